#pragma once
// The preview frame of the Preview Bitmap page (1017) and its geometry.
//
// Picture view: the selected file stretched into the frame, half the frame's size for its
// longer side, doubled across and/or down for the chosen print mode.
// As printed: the dots the printer will print, made by the rasterizer with the current
// options (diverging point, gray printing, the row's auto-centring, the printable area) and
// decoded back from the raster that would be sent, one screen pixel per 203-dpi dot where the
// frame has room (a whole multiple when it has more), drawn on a strip of paper as wide as the
// printable area.
//
// GUI thread only.
#include "logo/LogoPreview.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

struct LogoOptions;

// The size the picture view gives a W x H picture in a frame of FW x FH (integer arithmetic,
// placed at the frame's top-left corner). Empty for an empty picture or frame.
QSize logoPreviewSize(QSize frame, QSize picture, LogoPrintMode mode);

// The zoom of the as-printed view: the largest whole number of screen pixels per dot that
// lets `dots` fit into the frame, at least 1 (a larger picture is scaled down to fit).
int logoDotZoom(QSize frame, QSize dots);

class LogoPreviewFrame final : public QWidget {
    Q_OBJECT
public:
    explicit LogoPreviewFrame(QWidget* parent = nullptr);

    // Nothing to show (no selected row).
    void clearPicture();
    // Loads the file for the picture view, or rasterizes it for the as-printed view.
    void showPicture(const QString& path, LogoPrintMode mode, bool asPrinted, const LogoOptions& options,
                     bool autoCenter);

    bool asPrinted() const { return m_asPrinted; }
    // What is drawn: the picture's own pixels, or the printed dots (before any zoom).
    const QImage& image() const { return m_image; }
    // The rectangle the picture occupies in the frame, and the paper strip (as printed).
    QRect pictureRect() const;
    QRect paperRect() const;
    // Why nothing is shown for a selected file (it no longer loads or cannot be printed).
    const QString& problem() const { return m_problem; }

    QSize sizeHint() const override { return {420, 260}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    LogoPrintMode m_mode = LogoPrintMode::Normal;
    bool m_asPrinted = false;
    int m_paperDots = 0; // printable area, in dots across (already doubled for the mode)
    QString m_problem;
};
