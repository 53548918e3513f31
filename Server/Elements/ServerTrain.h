#pragma once
// A vehicle on a track. On its track it is synchronised by its position along the track and its speed alone;
// once derailed, like any physical entity.

#include <cstdint>

#include "ServerVehicle.h"

class CServerTrain : public CServerVehicle
{
public:
	// The train flags of the create and sync blocks.
	static constexpr uint8_t TRAIN_FLAG_TRAIN = 0x1;
	static constexpr uint8_t TRAIN_FLAG_DERAILED = 0x2;
	static constexpr uint8_t TRAIN_FLAG_HEADLIGHTS = 0x4;
	static constexpr uint8_t TRAIN_FLAG_TAILLIGHTS = 0x8;

	explicit CServerTrain(CGameElementManager* pManager);
	~CServerTrain() override;

	ReflectedClass* GetReflectedClass() override;
	// The vehicle's block, then the train flags and the track.
	bool ReadCreatePacket(Stream* pStream) override;
	bool WriteCreatePacket(Stream* pStream) override;
	// Replaces the vehicle's block whole: the train flags, then the track position and speed, or the physical
	// block when derailed.
	bool ReadSyncPacket(Stream* pStream) override;
	bool WriteSyncPacket(Stream* pStream) override;

	uint8_t GetTrainFlags() const;

	uint8_t m_ucTrack;
	bool m_bTrainFlag;
	bool m_bDerailed;
	bool m_bHeadlights;
	bool m_bTaillights;
	float m_fTrackPosition;
	float m_fSpeed;
};
