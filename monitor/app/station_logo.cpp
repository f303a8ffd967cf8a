#include "station_logo.h"

#include <QImage>
#include <QPixmap>

namespace varnak {

StationLogo::StationLogo(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("stationLogo"));
    setFrameShape(QFrame::Box);
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    hide();
}

bool StationLogo::showImage(const QByteArray& bytes, const QString& about)
{
    QImage image;
    if (bytes.isEmpty() || !image.loadFromData(bytes)) {
        clearImage();
        return false;
    }
    const QSize room = contentsRect().size();
    if (image.width() > room.width() || image.height() > room.height())
        image = image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    setPixmap(QPixmap::fromImage(image));
    setToolTip(about);
    show();
    raise();
    return true;
}

void StationLogo::clearImage()
{
    clear();
    setToolTip(QString());
    hide();
}

}  // namespace varnak
