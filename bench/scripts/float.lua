-- A million steps of an oscillator (Lua's floats are doubles).
local x = 1.0
local v = 0.0
local k = 0.01
local i = 0
while i < 1000000 do
    v = v - x * k
    x = x + v * k
    i = i + 1
end
print(x)
