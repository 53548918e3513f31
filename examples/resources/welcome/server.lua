-- A small example resource: greets on start, answers a console command and keeps time with a timer.

print("Welcome resource started: " .. thisResource.name)

addEventHandler("OnResourceStop", function(event, resource)
	if resource == thisResource then
		print("Welcome resource stopping")
	end
end)

addCommandHandler("hello", function(command, parameters)
	-- A command typed without anything after it gets empty parameters.
	if parameters == nil or parameters == "" then
		parameters = "world"
	end
	print("Hello, " .. parameters .. "!")
end)

local minutes = 0
setInterval(function()
	minutes = minutes + 1
	print("The server has been up for " .. minutes .. " minute(s)")
end, 60000)
