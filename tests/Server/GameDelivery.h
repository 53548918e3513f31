#pragma once
// How the game server sends each of its game messages: on which channel and whether reliable. Messages about one
// element go to its holders on the element channel, messages passed on to the other clients and messages to one
// client on channel 0, the GTA IV relays unreliable on their own channel.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Support/TestClient.h"

namespace ServerTest
{
struct tGameDelivery
{
	uint32_t m_uiId;
	uint8_t m_ucChannel;
	bool m_bReliable;
};

constexpr uint8_t ELEMENT_CHANNEL = 6;
constexpr uint8_t GAME_CHANNEL = 0;
constexpr uint8_t IV_RELAY_CHANNEL = 4;
// What surely fits in one datagram of the transport.
constexpr size_t ONE_DATAGRAM = 1000;

inline const tGameDelivery g_rgGameDeliveries[] = {
	{101, ELEMENT_CHANNEL, true},
	{105, ELEMENT_CHANNEL, true},
	{106, ELEMENT_CHANNEL, true},
	{108, GAME_CHANNEL, true},
	{112, GAME_CHANNEL, true},
	{117, ELEMENT_CHANNEL, true},
	{118, ELEMENT_CHANNEL, true},
	{119, ELEMENT_CHANNEL, true},
	{120, ELEMENT_CHANNEL, true},
	{121, ELEMENT_CHANNEL, true},
	{123, GAME_CHANNEL, true},
	{124, GAME_CHANNEL, true},
	{125, GAME_CHANNEL, true},
	{126, GAME_CHANNEL, true},
	{128, GAME_CHANNEL, true},
	{129, ELEMENT_CHANNEL, true},
	{133, IV_RELAY_CHANNEL, false},
	{134, GAME_CHANNEL, true},
	{135, GAME_CHANNEL, true},
	{136, GAME_CHANNEL, true},
	{137, GAME_CHANNEL, true},
	{142, GAME_CHANNEL, true},
	{143, IV_RELAY_CHANNEL, false},
	{144, GAME_CHANNEL, true},
	{145, GAME_CHANNEL, true},
	{146, GAME_CHANNEL, true},
	{147, GAME_CHANNEL, true},
	{148, GAME_CHANNEL, true},
	{149, GAME_CHANNEL, true},
	{150, ELEMENT_CHANNEL, true},
	{151, GAME_CHANNEL, true},
	{180, ELEMENT_CHANNEL, true},
};

// Every game message among those given came on its channel, reliable or not as the table says.
inline void ExpectGameDelivery(const std::vector<VexaTest::tReceivedMessage>& Messages)
{
	for (const VexaTest::tReceivedMessage& Message : Messages)
	{
		for (const tGameDelivery& Delivery : g_rgGameDeliveries)
		{
			if (!Message.m_bHasHeader || Message.m_uiId != Delivery.m_uiId)
				continue;
			EXPECT_EQ(Message.m_ucChannel, Delivery.m_ucChannel) << "channel of message " << Message.m_uiId;
			// The transport carries an unreliable message longer than one datagram in reliable pieces.
			if (Delivery.m_bReliable || Message.m_Data.size() <= ONE_DATAGRAM)
			{
				EXPECT_EQ(Message.m_bReliable, Delivery.m_bReliable) << "reliability of message " << Message.m_uiId;
			}
		}
	}
}
}
