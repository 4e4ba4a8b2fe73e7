#pragma once

#include <QIcon>

namespace tarnwick::gui {

// The three numbered image lists of the main window. Each number maps to one theme icon, with a
// style icon where the theme has none.
enum class TImageList
{
    Toolbar, // 0 add to black list ... 8 update
    Tree,    // 0 all messages ... 15 very large messages
    Message, // 0 exclamation mark ... 6 high priority
};

QIcon ImageOf(TImageList list, int number);

} // namespace tarnwick::gui
