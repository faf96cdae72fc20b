-- String building: 300,000 appends, the text started again when it passes 1,000 characters.
local s = ""
local n = 0
local i = 0
while i < 300000 do
    s = s .. "x"
    if #s > 1000 then
        s = ""
        n = n + 1
    end
    i = i + 1
end
print(n)
