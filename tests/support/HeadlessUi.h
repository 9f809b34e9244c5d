// The headless widget set as a test finds it: an empty transcript, no responder, no queued answers.
#pragma once

#include "platform/vcl/Headless.h"

#include <gtest/gtest.h>

inline vcl::THeadlessWidgetSet& Headless()
{
    vcl::THeadlessWidgetSet* set = vcl::HeadlessWidgetSet();
    EXPECT_NE(set, nullptr);
    set->ClearTranscript();
    set->SetResponder(nullptr);
    set->SetAnswers({});
    return *set;
}
