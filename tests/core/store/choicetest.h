// The fixture of the tests that choose a store: the user's settings in a fresh folder, and no
// choice made by the environment unless a test sets one.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "tempdir.h"

class TChoiceTest : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        unsetenv("PELLOQUIN_DATABASE");
    }
    void TearDown() override { unsetenv("PELLOQUIN_DATABASE"); }
    TTempDir dir;
};
