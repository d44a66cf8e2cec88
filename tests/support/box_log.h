// Message boxes the library shows during a test, captured through its sink.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform.h"

namespace testenv {

// Captures every box while it lives.
class BoxLog {
 public:
  BoxLog() { setMessageBoxSink(&capture, this); }
  ~BoxLog() { setMessageBoxSink(nullptr, nullptr); }
  BoxLog(const BoxLog&) = delete;
  BoxLog& operator=(const BoxLog&) = delete;

  void clear() {
    captions.clear();
    texts.clear();
  }

  std::vector<std::string> captions, texts;

 private:
  static void capture(const char* caption, const char* text, void* context) {
    auto* log = static_cast<BoxLog*>(context);
    log->captions.push_back(caption);
    log->texts.push_back(text);
  }
};

// Exactly one box, with this caption and each of the words in its text.
inline void expectOneBox(const BoxLog& boxes, const std::string& caption, std::initializer_list<std::string> words) {
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.captions[0], caption);
  for (const std::string& w : words) EXPECT_NE(boxes.texts[0].find(w), std::string::npos) << w << " in: " << boxes.texts[0];
}

}  // namespace testenv
