// The console's image list: an icon per index of the scope tree and the result lists, from the
// desktop's icon theme where it has one, else drawn here so that every node has a picture.
#pragma once

#include <QIcon>

namespace gui {

// The window's own index for a registration whose connect is under way.
inline constexpr int kIconConnecting = 100;

// The icon of an image-list index (2 to 15, or kIconConnecting); an empty icon for indices the
// console does not use.
QIcon ConsoleIcon(int index);

}  // namespace gui
