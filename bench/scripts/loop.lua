-- Ten million steps summing the counter: the same compare, add and increment.
local s = 0
local i = 0
while i < 10000000 do
    s = s + i
    i = i + 1
end
print(s)
