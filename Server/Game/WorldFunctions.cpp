// The world's script members: the clock in the namespace "time" of "gta", the weather, forced weather and the
// GTA III bridge in "gta" itself. Each native gets the world as its user data.

#include "World.h"

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"

namespace
{
CWorld* GetWorld(void* pUserData)
{
	return static_cast<CWorld*>(pUserData);
}

bool NativeGetMinuteDuration(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(GetWorld(pUserData)->GetClock().GetMinuteDuration());
	return true;
}

bool NativeSetMinuteDuration(CNativeState* pState, int, void* pUserData)
{
	double dValue = 0.0;
	if (!pState->CheckNumber(0, dValue))
		return false;
	// A refused duration is warned about by the world and keeps the old value.
	GetWorld(pUserData)->SetMinuteDuration(dValue, true);
	return true;
}

bool NativeGetHour(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(static_cast<int32_t>(GetWorld(pUserData)->GetClock().m_ucHour));
	return true;
}

bool NativeSetHour(CNativeState* pState, int, void* pUserData)
{
	int64_t iValue = 0;
	if (!pState->CheckNumber(0, iValue))
		return false;
	GetWorld(pUserData)->SetHour(iValue);
	return true;
}

bool NativeGetMinute(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(static_cast<int32_t>(GetWorld(pUserData)->GetClock().m_ucMinute));
	return true;
}

bool NativeSetMinute(CNativeState* pState, int, void* pUserData)
{
	int64_t iValue = 0;
	if (!pState->CheckNumber(0, iValue))
		return false;
	GetWorld(pUserData)->SetMinute(iValue);
	return true;
}

bool NativeGetSecond(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(static_cast<float>(GetWorld(pUserData)->GetClock().GetSecond()));
	return true;
}

bool NativeSetSecond(CNativeState* pState, int, void* pUserData)
{
	double dValue = 0.0;
	if (!pState->CheckNumber(0, dValue))
		return false;
	if (!GetWorld(pUserData)->SetSecond(dValue))
		return pState->TypeError("finite number", 0);
	return true;
}

bool NativeGetDay(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(GetWorld(pUserData)->GetClock().m_iDay);
	return true;
}

bool NativeSetDay(CNativeState* pState, int, void* pUserData)
{
	int32_t iValue = 0;
	if (!pState->CheckNumber(0, iValue))
		return false;
	GetWorld(pUserData)->SetDay(iValue);
	return true;
}

bool NativeGetWeather(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(static_cast<int32_t>(GetWorld(pUserData)->GetWeather()));
	return true;
}

bool NativeSetWeather(CNativeState* pState, int, void* pUserData)
{
	uint8_t ucValue = 0;
	if (!pState->CheckNumber(0, ucValue))
		return false;
	GetWorld(pUserData)->SetWeather(ucValue);
	return true;
}

bool NativeForceWeather(CNativeState* pState, int, void* pUserData)
{
	uint8_t ucValue = 0;
	if (!pState->CheckNumber(0, ucValue))
		return false;
	GetWorld(pUserData)->ForceWeather(ucValue);
	return true;
}

bool NativeGetSSVBridgeEnabled(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnBoolean(GetWorld(pUserData)->IsSSVBridgeEnabled());
	return true;
}

bool NativeSetSSVBridgeEnabled(CNativeState* pState, int, void* pUserData)
{
	bool bValue = false;
	if (!pState->CheckBoolean(0, bValue))
		return false;
	GetWorld(pUserData)->SetSSVBridgeEnabled(bValue);
	return true;
}
}

void CWorld::RegisterFunctions(ReflectedNamespace* pGame)
{
	ReflectedNamespace* pTime = pGame->AddNamespace("time");
	pTime->AddProperty(this, "minuteDuration", ARGUMENT_INTEGER, NativeGetMinuteDuration, NativeSetMinuteDuration);
	pTime->AddProperty(this, "hour", ARGUMENT_INTEGER, NativeGetHour, NativeSetHour);
	pTime->AddProperty(this, "minute", ARGUMENT_INTEGER, NativeGetMinute, NativeSetMinute);
	pTime->AddProperty(this, "second", ARGUMENT_FLOAT, NativeGetSecond, NativeSetSecond);
	pTime->AddProperty(this, "day", ARGUMENT_FLOAT, NativeGetDay, NativeSetDay);
	pGame->AddProperty(this, "weather", ARGUMENT_INTEGER, NativeGetWeather, NativeSetWeather);
	pGame->RegisterFunction("forceWeather", "i", NativeForceWeather, this);
	pGame->AddProperty(this, "ssvBridgeEnabled", ARGUMENT_BOOLEAN, NativeGetSSVBridgeEnabled, NativeSetSSVBridgeEnabled);
}
