// The program's pictures, drawn by the program itself: the logo (149), the
// about pictures (130 German, 131 English) and the application icon (128).
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

// The bitmap with that id at its own size; a null pixmap for an unknown id.
QPixmap LoadBitmap(int id);
QImage DrawBitmap(int id);

// The application icon at the usual sizes.
QIcon LoadAppIcon();
QImage DrawIconImage(int size);
