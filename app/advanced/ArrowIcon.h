// The small filled triangles shown on the position buttons instead of a caption.
#pragma once

#include <QPixmap>
#include <Qt>

namespace Advanced {

// 7 by 6 pixels pointing up or down, 6 by 7 pointing left or right; black on transparent.
QPixmap arrowPicture(Qt::ArrowType direction);

}  // namespace Advanced
