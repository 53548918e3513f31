// Constants of GTA IV and its episodes offered to every script while the server runs that game.
// A file of the same path beside the server replaces this one.
#pragma once

