#pragma once
// The game messages a verified client sends: what its peds do (entering and leaving vehicles, dying, falling,
// jumping and the other actions passed on to every other client), its vehicles' engine and siren, pickups it
// collected, its camera interior, and the GTA IV sessions and relays between clients. Every handler reads its
// whole message before it acts, so a message that ends early changes nothing; an element named by a client that
// is not its syncer is left alone.

class CGTAClient;
class CGTAServerManager;
class Stream;

namespace GameMessages
{
// A message of the game protocol (ids 101 to 180) from a verified client; ids without a handler are ignored, as is
// everything without an element manager.
void Process(CGTAServerManager* pManager, CGTAClient* pClient, unsigned uiId, Stream* pStream);
}
