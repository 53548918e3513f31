#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <sys/socket.h>

#include "Network/NetSystem.h"

namespace
{
TEST(NetSystemTest, AddressStartsAsZeroIPv4)
{
	CIPAddress Address;
	EXPECT_EQ(Address.m_usFamily, AF_INET);
	EXPECT_EQ(Address.m_usPort, 0);
	char szText[128];
	ASSERT_TRUE(Address.ToString(szText, sizeof(szText)));
	EXPECT_STREQ(szText, "0.0.0.0");
}

TEST(NetSystemTest, AddressPrintsItsFamilyWithoutPort)
{
	CIPAddress IPv4;
	IPv4.m_usPort = 22000;
	ASSERT_EQ(inet_pton(AF_INET, "192.168.10.20", &IPv4.m_uiIPv4), 1);
	char szText[128];
	ASSERT_TRUE(IPv4.ToString(szText, sizeof(szText)));
	EXPECT_STREQ(szText, "192.168.10.20");

	CIPAddress IPv6;
	IPv6.m_usFamily = AF_INET6;
	ASSERT_EQ(inet_pton(AF_INET6, "fe80::1", IPv6.m_rgucIPv6), 1);
	ASSERT_TRUE(IPv6.ToString(szText, sizeof(szText)));
	EXPECT_STREQ(szText, "fe80::1");
}

TEST(NetSystemTest, AddressThatDoesNotFitIsRefusedNotCut)
{
	CIPAddress Address;
	ASSERT_EQ(inet_pton(AF_INET, "192.168.10.20", &Address.m_uiIPv4), 1);
	char szText[13];
	memset(szText, 'z', sizeof(szText));
	EXPECT_FALSE(Address.ToString(szText, sizeof(szText)));
	char szExact[14];
	EXPECT_TRUE(Address.ToString(szExact, sizeof(szExact)));
	EXPECT_STREQ(szExact, "192.168.10.20");
}
}
