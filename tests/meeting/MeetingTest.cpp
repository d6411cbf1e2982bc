// The meeting as data, without a window.

#include "Meeting.h"

#include <gtest/gtest.h>
