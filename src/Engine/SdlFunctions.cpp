// The namespaces "sdl" and "platform": what a script may ask about the platform. The server has no window and no
// keyboard, so the key-modifier state is always "no modifier".

#include <SDL2/SDL_keycode.h>

#include "Engine/KestrinNative.h"
#include "Engine/OS.h"

namespace
{
bool GetPlatformName(CNativeState* pState, int, void*)
{
	pState->ReturnString("Linux");
	return true;
}

bool GetModState(CNativeState* pState, int, void*)
{
	pState->ReturnNumber(static_cast<int32_t>(KMOD_NONE));
	return true;
}

bool GetTicks(CNativeState* pState, int, void*)
{
	// Scripts see a signed 32-bit count that wraps after about 24 days.
	pState->ReturnNumber(static_cast<uint32_t>(OS::GetTicks()));
	return true;
}
}

void CScripting::RegisterSDLFunctions()
{
	ReflectedNamespace* pSDL = m_Global.AddNamespace("sdl");
	pSDL->AddProperty(this, "platform", ARGUMENT_STRING, GetPlatformName);
	pSDL->RegisterFunction("getModState", "", GetModState, this);
	pSDL->AddProperty(this, "ticks", ARGUMENT_INTEGER, GetTicks);

	ReflectedNamespace* pPlatform = m_Global.AddNamespace("platform");
	pPlatform->AddProperty(this, "name", ARGUMENT_STRING, GetPlatformName);
	pPlatform->AddProperty(this, "modState", ARGUMENT_INTEGER, GetModState);
	pPlatform->AddProperty(this, "ticks", ARGUMENT_INTEGER, GetTicks);
}
