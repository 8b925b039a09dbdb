#pragma once
// The preview frame of the Preview Bitmap page (1017) and its geometry.
//
// Picture view: the selected file stretched into the frame, half the frame's size for its
// longer side, doubled across and/or down for the chosen print mode.
// As printed: the dots the printer will print, made by the rasterizer with the current
// options (diverging point, gray printing, the row's auto-centring, the printable area) and
// decoded back from the raster that would be sent, doubled for the print mode and laid on a
// strip of paper as wide as the printable area where the printer lays them (LEFT, CENTER or
// RIGHT), one screen pixel per 203-dpi dot where the frame has room (a whole multiple when it
// has more). Columns that pass the paper's edge are not drawn: a red edge and a line of text
// say how many were cut off.
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
                     bool autoCenter, logo_frames::LogoJustify align = logo_frames::LogoJustify::Left);
    // The language of the frame's own texts.
    void setKorean(bool korean) { m_korean = korean; }

    bool asPrinted() const { return m_asPrinted; }
    // What is drawn: the picture's own pixels, or the paper with the printed dots (before any
    // zoom, one pixel per dot).
    const QImage& image() const { return m_image; }
    // As printed: where the picture lies across the paper, in dots.
    const LogoPlacement& placement() const { return m_placement; }
    // The rectangle the picture occupies in the frame (as printed: its part on the paper), and
    // the paper strip (as printed).
    QRect pictureRect() const;
    QRect paperRect() const;
    // As printed, when columns are cut off: the line that says so (else empty).
    QString cutNote() const;
    // Why nothing is shown for a selected file (it no longer loads or cannot be printed).
    const QString& problem() const { return m_problem; }

    QSize sizeHint() const override { return {420, 260}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    LogoPrintMode m_mode = LogoPrintMode::Normal;
    bool m_asPrinted = false;
    bool m_korean = false;
    LogoPlacement m_placement;
    QString m_problem;
};
