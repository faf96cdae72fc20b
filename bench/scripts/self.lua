-- Property reads and writes on an object (a table with named fields).
local self = { count = 0, step = 3 }
local i = 0
while i < 1000000 do
    self.count = self.count + self.step
    i = i + 1
end
print(self.count)
