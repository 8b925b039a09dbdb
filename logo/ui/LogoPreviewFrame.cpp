#include "logo/ui/LogoPreviewFrame.h"
#include "logo/ui/LogoControls.h"

#include "logo/BmpImage.h"
#include "logo/LogoOptions.h"
#include "logo/LogoPicture.h"

#include <QPainter>

#include <algorithm>

QSize logoPreviewSize(QSize frame, QSize picture, LogoPrintMode mode)
{
    const int fw = frame.width(), fh = frame.height();
    const int w = picture.width(), h = picture.height();
    if (w <= 0 || h <= 0 || fw <= 0 || fh <= 0)
        return {};
    int bw, bh;
    if (w == h) {
        bw = bh = fh / 2;
    } else if (w > h) {
        bw = fw / 2;
        bh = int(int64_t(h) * (fw / 2) / w);
        if (2 * bh > fh) {
            bh = fh / 2;
            bw = int(int64_t(fh / 2) * w / h);
        }
    } else {
        bh = fh / 2;
        bw = int(int64_t(fh / 2) * w / h);
    }
    if (mode == LogoPrintMode::DoubleWidth || mode == LogoPrintMode::Quadruple)
        bw *= 2;
    if (mode == LogoPrintMode::DoubleHeight || mode == LogoPrintMode::Quadruple)
        bh *= 2;
    return {bw, bh};
}

int logoDotZoom(QSize frame, QSize dots)
{
    if (dots.width() <= 0 || dots.height() <= 0)
        return 1;
    return std::max(1, std::min(frame.width() / dots.width(), frame.height() / dots.height()));
}

namespace {

// The picture's colours as the file has them (the rasterizer reads the same pixels).
QImage toQImage(const BmpImage& bmp)
{
    QImage image(bmp.width(), bmp.height(), QImage::Format_RGB32);
    for (int y = 0; y < bmp.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < bmp.width(); ++x) {
            const BmpColor c = bmp.pixelColor(x, y);
            line[x] = qRgb(c.red, c.green, c.blue);
        }
    }
    return image;
}

} // namespace

LogoPreviewFrame::LogoPreviewFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(logo_ctl::controlName(logo_ctl::kPreviewFrame));
    setMinimumSize(320, 200);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

void LogoPreviewFrame::clearPicture()
{
    m_image = QImage();
    m_problem.clear();
    update();
}

void LogoPreviewFrame::showPicture(const QString& path, LogoPrintMode mode, bool asPrinted,
                                   const LogoOptions& options, bool autoCenter)
{
    m_image = QImage();
    m_problem.clear();
    m_mode = mode;
    m_asPrinted = asPrinted;
    const std::string file = path.toStdString();
    if (!asPrinted) {
        auto bmp = BmpImage::load(file);
        if (bmp.ok() && uint64_t(bmp->width()) * uint64_t(bmp->height()) <= (64u << 20))
            m_image = toQImage(*bmp);
        else
            m_problem = bmp.ok() ? QString("The picture is too large to preview.") : QString::fromStdString(bmp.message());
        update();
        return;
    }
    auto picture = rasterizeLogoFile(file, options, autoCenter && !options.grayPrinting);
    if (!picture.ok()) {
        m_problem = QString::fromStdString(picture.message());
        update();
        return;
    }
    auto printed = LogoPreview::render(*picture, mode);
    if (!printed.ok()) {
        m_problem = QString::fromStdString(printed.message());
        update();
        return;
    }
    QImage dots(int(printed->width), int(printed->height), QImage::Format_Grayscale8);
    for (uint32_t y = 0; y < printed->height; ++y)
        std::copy_n(printed->pixels.data() + std::size_t(y) * printed->width, printed->width, dots.scanLine(int(y)));
    m_image = dots;
    const int sx = (mode == LogoPrintMode::DoubleWidth || mode == LogoPrintMode::Quadruple) ? 2 : 1;
    m_paperDots = std::max(int(options.maxPrintableArea) * sx, m_image.width());
    update();
}

QRect LogoPreviewFrame::paperRect() const
{
    if (!m_asPrinted || m_image.isNull())
        return {};
    const QSize dots(m_paperDots, m_image.height());
    const int zoom = logoDotZoom(size() - QSize(8, 8), dots);
    QSize shown = dots * zoom;
    if (shown.width() > width() - 8 || shown.height() > height() - 8)
        shown = dots.scaled(size() - QSize(8, 8), Qt::KeepAspectRatio);
    return QRect(QPoint(4, 4), shown);
}

QRect LogoPreviewFrame::pictureRect() const
{
    if (m_image.isNull())
        return {};
    if (!m_asPrinted)
        return QRect(QPoint(0, 0), logoPreviewSize(size(), m_image.size(), m_mode));
    const QRect paper = paperRect();
    const double scale = double(paper.width()) / m_paperDots;
    return QRect(paper.topLeft(), QSize(int(m_image.width() * scale + 0.5), paper.height()));
}

void LogoPreviewFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!m_problem.isEmpty()) {
        p.setPen(palette().color(QPalette::Text));
        p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, m_problem);
        return;
    }
    if (m_image.isNull())
        return;
    if (!m_asPrinted) {
        p.drawImage(pictureRect(), m_image);
        return;
    }
    // The paper strip on a darker ground, the printed dots on it; whole-number zoom keeps
    // every dot sharp.
    p.fillRect(rect(), QColor(0x80, 0x80, 0x80));
    const QRect paper = paperRect();
    p.fillRect(paper, Qt::white);
    const QRect picture = pictureRect();
    const bool whole = picture.width() >= m_image.width();
    p.setRenderHint(QPainter::SmoothPixmapTransform, !whole);
    p.drawImage(picture, m_image);
}
