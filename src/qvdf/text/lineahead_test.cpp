// Lines read ahead: the same lines, results and tags in the same order as
// the source gives them, across batches, on a thread and without; the end
// repeated; a failure of the source met where it happened; a stop midway.
#include "qvdf/text/lineahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A source of n numbered lines of varying length, then `last`; counts its
// calls so that a test can see it is not called past the end or a stop.
struct Numbered {
  int n;
  int last = kLineNone;
  int throwAt = -1;
  std::atomic<int> calls{0};

  static std::string Text(int i) { return "L" + std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'x') + "\r\n"; }

  LineAhead::Source Source() {
    return [this](std::string* out, size_t* tag) {
      int i = calls++;
      if (i == throwAt) throw std::runtime_error("source failed");
      if (i >= n) return last;
      out->append(Text(i));
      *tag = static_cast<size_t>(i) * 3;
      return kLineRead;
    };
  }
};

class LineAheadTest : public ::testing::TestWithParam<bool> {};

TEST_P(LineAheadTest, HandsOutEveryLineInOrderAcrossBatches) {
  // About 2.5 MiB: the small first batch, growing ones and the largest.
  Numbered src{40000, kLineTooLong};
  LineAhead ahead;
  ahead.Start(src.Source(), GetParam());
  for (int i = 0; i < src.n; ++i) {
    LineAhead::Line got = ahead.Next();
    ASSERT_EQ(got.result, kLineRead) << i;
    ASSERT_EQ(got.text, Numbered::Text(i)) << i;
    ASSERT_EQ(got.tag, static_cast<size_t>(i) * 3) << i;
    // Every line is followed by a NUL that it does not count.
    ASSERT_EQ(got.text.data()[got.text.size()], '\0') << i;
  }
  // The end, and the same end for every later call, without asking again.
  for (int k = 0; k < 3; ++k) {
    LineAhead::Line got = ahead.Next();
    EXPECT_EQ(got.result, kLineTooLong);
    EXPECT_EQ(got.text, "");
  }
  EXPECT_EQ(src.calls.load(), src.n + 1);
}

TEST_P(LineAheadTest, ManyEmptyLinesAndAnEmptyInput) {
  Numbered none{0};
  LineAhead ahead;
  ahead.Start(none.Source(), GetParam());
  EXPECT_EQ(ahead.Next().result, kLineNone);
  EXPECT_EQ(ahead.Next().result, kLineNone);

  // Lines of no bytes at all still come one by one.
  int calls = 0;
  ahead.Start(
      [&calls](std::string*, size_t*) { return ++calls <= 100000 ? kLineRead : kLineNone; },
      GetParam());
  int lines = 0;
  LineAhead::Line got;
  while ((got = ahead.Next()).result == kLineRead) {
    ASSERT_TRUE(got.text.empty());
    ++lines;
  }
  EXPECT_EQ(lines, 100000);
}

TEST_P(LineAheadTest, FailureOfTheSourceIsMetWhereItHappened) {
  Numbered src{50000};
  src.throwAt = 30000;
  LineAhead ahead;
  ahead.Start(src.Source(), GetParam());
  for (int i = 0; i < 30000; ++i) ASSERT_EQ(ahead.Next().text, Numbered::Text(i)) << i;
  EXPECT_THROW(ahead.Next(), std::runtime_error);
  // Afterwards the stream is over, and the source is left alone.
  EXPECT_EQ(ahead.Next().result, kLineNone);
  EXPECT_EQ(src.calls.load(), 30001);
}

TEST_P(LineAheadTest, StopLeavesTheSourceAloneAndStartBeginsAnew) {
  Numbered first{1000000};
  LineAhead ahead;
  ahead.Start(first.Source(), GetParam());
  EXPECT_EQ(ahead.Next().text, Numbered::Text(0));
  ahead.Stop();
  EXPECT_FALSE(ahead.active());
  int called = first.calls.load();
  EXPECT_LT(called, 1000000);
  EXPECT_EQ(ahead.Next().result, kLineNone);

  Numbered second{5, kLineNone};
  ahead.Start(second.Source(), GetParam());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ahead.Next().text, Numbered::Text(i));
  EXPECT_EQ(ahead.Next().result, kLineNone);
  EXPECT_EQ(first.calls.load(), called);
}

INSTANTIATE_TEST_SUITE_P(ThreadedOrNot, LineAheadTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Threaded") : std::string("Inline");
                         });

}  // namespace
