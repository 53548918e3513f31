#pragma once
// The name of a test case that runs once without (false) and once with (true) the network thread.

#include <gtest/gtest.h>
#include <string>

namespace VexaTest
{
inline std::string DescribeTransport(const ::testing::TestParamInfo<bool>& Info)
{
	return Info.param ? "NetworkThread" : "MainThread";
}
}
