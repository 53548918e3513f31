#pragma once
// The files built into the program (the game's define headers and vehicle colours), which every server process
// reads through its context's file system.

class Context;

// Mounts the built-in archive in the context's file system; when the image cannot be read nothing is mounted and
// the files are simply not found.
void MountBuiltinArchive(Context& ProcessContext);
