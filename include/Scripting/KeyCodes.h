#pragma once
// The SDL2 scan codes, key codes and key modifiers that scripts see as constants.

class CDefineHandlers;

// In this order: the scan codes and "SDL_NUM_SCANCODES", the key codes, the key modifiers.
void DefineSDLKeyConstants(CDefineHandlers* pDefines);
