#include "app/Event.h"

#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

TEST(Event, ManualStaysSetAutoResets)
{
    Event manual(Event::Reset::Manual);
    EXPECT_FALSE(manual.wait(1ms));
    manual.set();
    EXPECT_TRUE(manual.wait(1ms));
    EXPECT_TRUE(manual.wait(1ms));
    manual.reset();
    EXPECT_FALSE(manual.isSet());

    Event autoReset(Event::Reset::Auto, true);
    EXPECT_TRUE(autoReset.wait(1ms));
    EXPECT_FALSE(autoReset.wait(1ms));
}

TEST(Event, WakesAWaiterOnAnotherThread)
{
    Event e(Event::Reset::Auto);
    std::thread t([&] {
        std::this_thread::sleep_for(5ms);
        e.set();
    });
    EXPECT_TRUE(e.wait(5s));
    t.join();
}
