// The station logo that RDS2's file transfer brought: a small framed picture
// at the right end of the display lines, hidden until a logo has come. Its
// tool tip says what it is (size, kind, version).
#pragma once

#include <QByteArray>
#include <QLabel>
#include <QString>

namespace varnak {

class StationLogo : public QLabel {
public:
    explicit StationLogo(QWidget* parent);
    // Shows the picture in `bytes` (PNG, JPEG, GIF: what Qt reads), scaled
    // down to fit; false, and hidden, when it is no picture Qt reads.
    bool showImage(const QByteArray& bytes, const QString& about);
    // Hidden (a new run, another station).
    void clearImage();
};

}  // namespace varnak
