#pragma once
// A sphere marking a place in the game world.

#include "ElementTypes.h"

#include "Multiplayer/NetObject.h"

class CGameElementManager;

class CServerMarker : public CNetObject
{
public:
	explicit CServerMarker(CGameElementManager* pManager);
	~CServerMarker() override;

	ReflectedClass* GetReflectedClass() override;
	// The replicated part, then position and radius; written only, clients never create markers.
	bool WriteCreatePacket(Stream* pStream) override;
	bool SetPosition(const CVector3D& vecPosition) override;
	bool GetPosition(CVector3D& vecPosition) override;

	CVector3D m_vecPosition;
	float m_fRadius;
};
