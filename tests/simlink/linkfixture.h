// Test support: every client test starts from a closed link in a private rendezvous directory.
#pragma once

#include <gtest/gtest.h>

#include "simlink/FPCuser.h"
#include "tests/simlink/standin.h"
#include "tests/simlink/testtransport.h"

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimLinkClose();
        SimLinkModuleStartup();
        SimLinkUseTransport(nullptr);
        UseShortTimings();
    }
    void TearDown() override {
        SimLinkClose();
        SimLinkUseTransport(nullptr);
    }
    PrivateIpcDir dir;
};
