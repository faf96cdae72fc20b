-- Member paths: self.a.b.c read and written through two nested objects.
local self = { a = { b = { c = 0 } } }
local i = 0
while i < 300000 do
    self.a.b.c = self.a.b.c + 1
    i = i + 1
end
print(self.a.b.c)
