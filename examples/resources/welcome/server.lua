-- A small example resource: greets on start, spawns every player who joins and welcomes them in the chat,
-- answers a console or chat command and keeps time with a timer.

print("Welcome resource started: " .. thisResource.name)

-- Where joining players appear (GTA III: Portland, near the harbour).
local SPAWN_POSITION = Vec3(1100.0, -650.0, 15.0)

addEventHandler("OnPlayerJoined", function(event, client)
	spawnPlayer(client, SPAWN_POSITION, 0.0)
	fadeCamera(client, true)
	message("Welcome to the server, " .. client.name .. "!", COLOUR_YELLOW)
end)

addEventHandler("OnPlayerQuit", function(event, client, reason)
	message(client.name .. " left the server", COLOUR_YELLOW)
end)

addEventHandler("OnResourceStop", function(event, resource)
	if resource == thisResource then
		print("Welcome resource stopping")
	end
end)

addCommandHandler("hello", function(command, parameters, client)
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
