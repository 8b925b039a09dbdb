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
                                   const LogoOptions& options, bool autoCenter, logo_frames::LogoJustify align)
{
    m_image = QImage();
    m_problem.clear();
    m_placement = {};
    m_mode = mode;
    m_asPrinted = asPrinted;
    const std::string file = path.toStdString();
    if (!asPrinted) {
        auto bmp = BmpImage::load(file);
        if (bmp.ok() && uint64_t(bmp->width()) * uint64_t(bmp->height()) <= (64u << 20))
            m_image = toQImage(*bmp);
        else
            m_problem = bmp.ok() ? QString::fromUtf8(m_korean ? "이미지가 너무 커서 미리 볼 수 없습니다."
                                                              : "The picture is too large to preview.")
                                 : QString::fromStdString(bmp.message());
        update();
        return;
    }
    auto picture = rasterizeLogoFile(file, options, autoCenter && !options.grayPrinting);
    if (!picture.ok()) {
        m_problem = QString::fromStdString(picture.message());
        update();
        return;
    }
    // The paper is the printable area whatever the mode: a doubled picture is twice as wide
    // on the same paper.
    auto printed = LogoPreview::renderOnPaper(*picture, mode, std::max<uint32_t>(options.maxPrintableArea, 1), align,
                                              &m_placement);
    if (!printed.ok()) {
        m_problem = QString::fromStdString(printed.message());
        update();
        return;
    }
    QImage dots(int(printed->width), int(printed->height), QImage::Format_Grayscale8);
    for (uint32_t y = 0; y < printed->height; ++y)
        std::copy_n(printed->pixels.data() + std::size_t(y) * printed->width, printed->width, dots.scanLine(int(y)));
    m_image = dots;
    update();
}

QString LogoPreviewFrame::cutNote() const
{
    if (!m_asPrinted || m_image.isNull() || m_placement.cut == 0)
        return {};
    return m_korean ? QString::fromUtf8("용지 폭을 넘는 %1 도트는 인쇄되지 않습니다 (빨간 선 오른쪽)").arg(m_placement.cut)
                    : QString("%1 dots past the paper's edge are not printed (right of the red line)")
                          .arg(m_placement.cut);
}

QRect LogoPreviewFrame::paperRect() const
{
    if (!m_asPrinted || m_image.isNull())
        return {};
    // Room is kept under the paper for the cut-off line.
    const QSize room = size() - QSize(8, 8 + (m_placement.cut ? fontMetrics().height() + 4 : 0));
    const QSize dots = m_image.size();
    const int zoom = logoDotZoom(room, dots);
    QSize shown = dots * zoom;
    if (shown.width() > room.width() || shown.height() > room.height())
        shown = dots.scaled(room, Qt::KeepAspectRatio);
    return QRect(QPoint(4, 4), shown);
}

QRect LogoPreviewFrame::pictureRect() const
{
    if (m_image.isNull())
        return {};
    if (!m_asPrinted)
        return QRect(QPoint(0, 0), logoPreviewSize(size(), m_image.size(), m_mode));
    const QRect paper = paperRect();
    const double scale = double(paper.width()) / m_image.width();
    return QRect(paper.left() + int(m_placement.left * scale + 0.5), paper.top(),
                 int(m_placement.printed * scale + 0.5), paper.height());
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
    const bool whole = paper.width() >= m_image.width();
    p.setRenderHint(QPainter::SmoothPixmapTransform, !whole);
    p.drawImage(paper, m_image);
    if (m_placement.cut == 0)
        return;
    // The edge that cut the picture, in red, and beyond it a hatched strip for what is lost.
    const QRect lost(paper.right() + 1, paper.top(), std::min(width() - paper.right() - 1, 24), paper.height());
    p.fillRect(lost, QBrush(QColor(0xC0, 0x30, 0x30), Qt::BDiagPattern));
    p.setPen(QPen(QColor(0xD0, 0x00, 0x00), 2));
    p.drawLine(paper.topRight() + QPoint(1, -2), paper.bottomRight() + QPoint(1, 2));
    p.setPen(Qt::white);
    p.drawText(QRect(4, paper.bottom() + 4, width() - 8, fontMetrics().height() + 2), Qt::AlignLeft | Qt::AlignVCenter,
               cutNote());
}
