#include "MessageBox.h"

#include <gtest/gtest.h>

namespace kp::test {

TEST(MessageBox, RecordsEachBoxAndAnswersInQueuedOrder) {
    RecordedMessageBoxes boxes({MessageResult::No, MessageResult::Yes});

    EXPECT_EQ(MessageBox("Recurse?", "Question", MessageIcon::Question, MessageButtons::YesNo),
              MessageResult::No);
    EXPECT_EQ(MessageBox("Again?", "Question", MessageIcon::Question, MessageButtons::YesNo),
              MessageResult::Yes);

    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Recurse?");
    EXPECT_EQ(boxes.Boxes()[0].title, "Question");
    EXPECT_EQ(boxes.Boxes()[0].icon, MessageIcon::Question);
    EXPECT_EQ(boxes.Boxes()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(boxes.Boxes()[1].text, "Again?");
}

TEST(MessageBox, UnqueuedBoxesGetTheirFirstButton) {
    RecordedMessageBoxes boxes;
    EXPECT_EQ(MessageBox("Done", "Target EXE", MessageIcon::Information, MessageButtons::OK),
              MessageResult::OK);
    EXPECT_EQ(MessageBox("Sure?", "Question", MessageIcon::Question, MessageButtons::YesNo),
              MessageResult::Yes);
    boxes.QueueAnswer(MessageResult::No);
    EXPECT_EQ(MessageBox("Sure?", "Question", MessageIcon::Question, MessageButtons::YesNo),
              MessageResult::No);
    EXPECT_EQ(boxes.Boxes().size(), 3u);
}

TEST(MessageBox, NestedRespondersRestoreTheOuterOneWhenTheyEnd) {
    RecordedMessageBoxes outer;
    {
        RecordedMessageBoxes inner({MessageResult::No});
        MessageBox("inner", "t", MessageIcon::Warning, MessageButtons::YesNo);
        EXPECT_EQ(inner.Boxes().size(), 1u);
    }
    MessageBox("outer", "t", MessageIcon::Error, MessageButtons::OK);
    ASSERT_EQ(outer.Boxes().size(), 1u);
    EXPECT_EQ(outer.Boxes()[0].text, "outer");
}

TEST(MessageBox, ReplacingTheResponderHandsBackThePreviousOne) {
    int calls = 0;
    MessageBoxResponder original = SetMessageBoxResponder([&](const MessageBoxRequest&) {
        ++calls;
        return MessageResult::No;
    });
    EXPECT_EQ(MessageBox("x", "y", MessageIcon::None, MessageButtons::YesNo), MessageResult::No);
    MessageBoxResponder mine = SetMessageBoxResponder(std::move(original));
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(static_cast<bool>(mine));
    EXPECT_EQ(mine({}), MessageResult::No);
}

} // namespace kp::test
