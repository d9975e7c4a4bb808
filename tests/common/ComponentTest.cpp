// Components die with their owner unless released before.

#include <gtest/gtest.h>

#include "Component.h"

namespace {

struct Tracked : TComponent {
  Tracked(TComponent* owner, int& alive) : TComponent(owner), Alive(alive) { ++Alive; }
  ~Tracked() override { --Alive; }
  int& Alive;
};

TEST(Component, OwnersDestroyWhatTheyStillOwn) {
  int alive = 0;
  {
    TComponent owner(nullptr);
    auto* released = new Tracked(&owner, alive);
    new Tracked(&owner, alive);
    auto* parent = new Tracked(&owner, alive);
    new Tracked(parent, alive);  // owned in turn
    EXPECT_EQ(alive, 4);
    EXPECT_EQ(owner.ComponentCount(), 3);
    delete released;  // released early: the owner forgets it
    EXPECT_EQ(alive, 3);
    EXPECT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(parent->Owner(), &owner);
  }
  EXPECT_EQ(alive, 0);
}

}  // namespace
