// The console's image list: an icon per index of the scope tree and the result lists, from the
// desktop's icon theme where it has one, else drawn here so that every node has a picture.
#pragma once

#include <QIcon>

namespace gui {

// The icon of an image-list index (2 to 15); an empty icon for indices the console does not use.
QIcon ConsoleIcon(int index);

}  // namespace gui
