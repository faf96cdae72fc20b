-- One million calls with three arguments, two levels deep.
local function inner(a, b, c)
    return a + b - c
end
local function outer(a, b, c)
    return inner(c, b, a) + 1
end
local s = 0
local i = 0
while i < 1000000 do
    s = s + outer(i, 2, 3)
    i = i + 1
end
print(s)
