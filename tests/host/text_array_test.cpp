// JString and JArray: shared contents on copy, construction forms, equality.
#include <gtest/gtest.h>

#include <cstring>

#include "host/JArray.h"
#include "host/JIntegerProperty.h"
#include "host/JString.h"

namespace {

TEST(JStringTest, CopiesShareTheBuffer) {
  JString original("abc");
  JString copy = original;
  static_cast<char*>(copy)[0] = 'X';
  EXPECT_STREQ(original, "Xbc");
  EXPECT_EQ(static_cast<char*>(original), static_cast<char*>(copy));
}

TEST(JStringTest, AssignmentSharesAndLeavesTheOldBufferToItsOtherOwners) {
  JString a("first");
  JString keeper = a;
  JString b("second");
  a = b;
  static_cast<char*>(b)[0] = 'S';
  EXPECT_STREQ(a, "Second");
  EXPECT_STREQ(keeper, "first");
}

TEST(JStringTest, ConstructionForms) {
  EXPECT_STREQ(JString("node", 0), "node");
  EXPECT_STREQ(JString("node", 2), "no");
  EXPECT_STREQ(JString("no", 10), "no");
  EXPECT_STREQ(JString(nullptr), "");
  EXPECT_STREQ(JString(nullptr, 0), "");
  EXPECT_NE(static_cast<char*>(JString()), nullptr);
  // A count limits reading: an unterminated buffer is not overrun.
  const char unterminated[3] = {'a', 'b', 'c'};
  EXPECT_STREQ(JString(unterminated, 3), "abc");
}

TEST(JStringTest, EqualityAndLengthFollowTheCText) {
  JString text("latitude");
  EXPECT_TRUE(text == "latitude");
  EXPECT_FALSE(text == "latitud");
  EXPECT_TRUE(text == JString("latitude"));
  EXPECT_FALSE(text == JString("longitude"));
  EXPECT_TRUE(JString() == "");
  EXPECT_TRUE(JString() == nullptr);
  EXPECT_EQ(text.length(), 8);
  static_cast<char*>(text)[3] = '\0';
  EXPECT_EQ(text.length(), 3);
  EXPECT_TRUE(text == "lat");
}

TEST(JStringTest, CloneSharesLikeACopy) {
  JString text("x");
  std::unique_ptr<JObject> clone(text.clone());
  auto* copy = dynamic_cast<JString*>(clone.get());
  ASSERT_NE(copy, nullptr);
  static_cast<char*>(text)[0] = 'y';
  EXPECT_STREQ(*copy, "y");
}

// Counts destructions, to see who owns array elements.
struct Tracked : JObject {
  explicit Tracked(int* destroyed) : destroyed_(destroyed) {}
  ~Tracked() override { ++*destroyed_; }
  JObject* clone() const override { return new Tracked(destroyed_); }
  int* destroyed_;
};

TEST(JArrayTest, CopiesShareAppends) {
  JArray array;
  JArray copy = array;
  copy.append(new JString("one"));
  array.append(JString("two"));
  ASSERT_EQ(array.size(), 2);
  EXPECT_EQ(copy.size(), 2);
  EXPECT_STREQ(*static_cast<JString*>(array.at(0)), "one");
  EXPECT_STREQ(*static_cast<JString*>(copy.at(1)), "two");
}

TEST(JArrayTest, AccessOutOfRangeIsNullAndNullIsNotAppended) {
  JArray array;
  array.append(nullptr);
  EXPECT_EQ(array.size(), 0);
  EXPECT_EQ(array.at(0), nullptr);
  array.append(JIntegerProperty("MAX packet size", 250, 20, 300));
  EXPECT_EQ(array.at(-1), nullptr);
  EXPECT_EQ(array.at(1), nullptr);
  auto* property = dynamic_cast<JIntegerProperty*>(array.at(0));
  ASSERT_NE(property, nullptr);
  EXPECT_EQ(property->getValue(), 250);
  EXPECT_EQ(property->getMaximum(), 300);
}

TEST(JArrayTest, ElementsLiveUntilTheLastCopyGoes) {
  int destroyed = 0;
  {
    JArray outer;
    {
      JArray inner;
      inner.append(new Tracked(&destroyed));
      Tracked local(&destroyed);
      inner.append(local);  // a clone
      outer = inner;
    }
    EXPECT_EQ(destroyed, 1);  // only `local`
    EXPECT_EQ(outer.size(), 2);
  }
  EXPECT_EQ(destroyed, 3);
}

}  // namespace
