#pragma once
// A mark on the clients' radar, at its own position or following the element it is attached to.

#include <cstdint>

#include "ElementTypes.h"

#include "Multiplayer/NetObject.h"

class CGameElementManager;

class CServerBlip : public CNetObject
{
public:
	// The blip flags. What the clients make of the two attach options is theirs: the server only sets them from the
	// two optional booleans of createBlipAttachedTo, option A first.
	enum : uint8_t
	{
		BLIP_FLAG_ATTACH_OPTION_A = 0x1,
		BLIP_FLAG_ATTACH_OPTION_B = 0x2,
		// The icon-or-colour field holds an icon number.
		BLIP_FLAG_ICON = 0x4,
		DEFAULT_BLIP_FLAGS = 0x1,
	};
	enum : int32_t
	{
		DEFAULT_BLIP_COLOUR = 0x00FF00FF,
	};

	explicit CServerBlip(CGameElementManager* pManager);
	~CServerBlip() override;

	ReflectedClass* GetReflectedClass() override;
	// The replicated part, then position, flags, size and icon or colour. Clients never create blips: the server
	// writes this block and never reads it.
	bool WriteCreatePacket(Stream* pStream) override;
	// The replicated part, then the position.
	bool ReadSyncPacket(Stream* pStream) override;
	bool WriteSyncPacket(Stream* pStream) override;
	bool SetPosition(const CVector3D& vecPosition) override;
	// The parent's position when attached to an element that has one, else the blip's own.
	bool GetPosition(CVector3D& vecPosition) override;

	CVector3D m_vecPosition;
	uint8_t m_ucFlags;
	uint8_t m_ucSize;
	int32_t m_iIconOrColour;
};
