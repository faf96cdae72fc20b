-- A handler run a million times, looked up by its name as the host does.
local self = { clicks = 0 }
local handlers = {}
function handlers.CLICK()
    self.clicks = self.clicks + 1
    if self.clicks == 1000000 then print(self.clicks) end
end
local name = "CLICK"
for _ = 1, 1000000 do handlers[name]() end
