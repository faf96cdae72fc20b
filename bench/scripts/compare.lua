-- Comparisons and branches on strings: a million look-ups of a word among four.
local w0, w1, w2, w3 = "LEFT", "RIGHT", "TOP", "BOTTOM"
local hits = 0
local w = w0
local i = 0
while i < 1000000 do
    if i % 4 == 0 then w = w0 elseif i % 4 == 1 then w = w1 elseif i % 4 == 2 then w = w2 else w = w3 end
    if w == "LEFT" then hits = hits + 1
    elseif w == "RIGHT" then hits = hits + 2
    elseif w == "TOP" then hits = hits + 3
    else hits = hits + 4 end
    i = i + 1
end
print(hits)
