// The main of every test executable: GoogleTest, with SIGPIPE ignored so that a test whose
// peer hangs up sees EPIPE rather than dying, in English whatever the machine's language.
#include "TestLanguage.h"

#include <csignal>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    runTestsInEnglish();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
