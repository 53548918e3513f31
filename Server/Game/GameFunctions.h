#pragma once
// Every script function of the game, in the order scripts and the documentation see them. The game server
// registers them once its element manager exists: the natives get the manager (or the world) as user data.

class CGTAServerManager;

// The element members, the world, the client functions, the list and create functions, then the namespace
// "server" with the game's own settings among the server's.
void RegisterGameFunctions(CGTAServerManager* pManager);
