#pragma once
// Anything placed in the game world with a matrix and a model: the base of peds, vehicles, objects and buildings.
// Also the raw game state blocks that peds carry through the server unread.

#include <cstddef>
#include <cstdint>

#include "ElementTypes.h"

#include "Engine/KestrinMath.h"
#include "Multiplayer/NetObject.h"

class CGameElementManager;
class Stream;

// Raw game state a client sends and the server forwards unchanged: a uint16 length, then that many bytes.
struct tRawSyncBlock
{
	enum
	{
		MAX_SIZE = 1024,
	};

	// Only 1 to MAX_SIZE bytes are ever sent; any other stored length goes out as an empty block.
	bool HasData() const { return m_Length >= 1 && m_Length <= MAX_SIZE; }
	// The length and the bytes, or length 0 when there is nothing to send.
	bool Write(Stream* pStream) const;
	// A length above MAX_SIZE, or bytes that did not arrive, fail the read and keep the stored block.
	bool Read(Stream* pStream);

	size_t m_Length = 0;
	uint8_t m_rgucData[MAX_SIZE] = {};
};

class CServerEntity : public CNetObject
{
public:
	explicit CServerEntity(CGameElementManager* pManager);
	~CServerEntity() override;

	ReflectedClass* GetReflectedClass() override;
	bool ReadCreatePacket(Stream* pStream) override;
	bool ReadSyncPacket(Stream* pStream) override;
	bool WriteCreatePacket(Stream* pStream) override;
	bool WriteSyncPacket(Stream* pStream) override;
	bool SetPosition(const CVector3D& vecPosition) override;
	bool GetPosition(CVector3D& vecPosition) override;
	// Euler angles in radians.
	bool SetRotation(const CVector3D& vecRotation) override;
	bool GetRotation(CVector3D& vecRotation) override;

	// Radians about Z; the position is kept.
	virtual void SetHeading(float fHeading);
	virtual float GetHeading();
	// Tells the holders when the entity is registered.
	virtual void SetModelIndex(int32_t iModel);

	int32_t GetModelIndex() const { return m_iModelIndex; }
	void SetInterior(uint8_t ucInterior);
	uint8_t GetInterior() const { return m_ucInterior; }
	// Creation kinds 1 and 3 are the game's random traffic.
	bool IsRandom() const { return m_ucCreationKind == 1 || m_ucCreationKind == 3; }

	const CMatrix4x4& GetMatrix() const { return m_Matrix; }
	void SetMatrix(const CMatrix4x4& Matrix) { m_Matrix = Matrix; }

	int32_t m_iPedSyncValue;
	CVector3D m_vecPedSyncVector;
	uint8_t m_ucCreationKind;
	int32_t m_iClientLocalId;
	tRawSyncBlock m_IVSyncBlock;

protected:
	// The rotation part (rows 0 to 2) from the matrix; the position row stays.
	void SetRotationPart(const CMatrix4x4& Rotation);
	void SetModelIndexQuietly(int32_t iModel) { m_iModelIndex = iModel; }
	void SetInteriorQuietly(uint8_t ucInterior) { m_ucInterior = ucInterior; }

	CMatrix4x4 m_Matrix;

private:
	int32_t m_iModelIndex;
	uint8_t m_ucInterior;
};
