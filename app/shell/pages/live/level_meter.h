#pragma once

// A segmented meter of the input level beside the record level slider, so a user sees that
// sound arrives. Shows the peak on a decibel scale from -60 dBFS to 0 dBFS, in the palette's
// colours.

#include <QWidget>

#include "platform/graph/media_types.h"

namespace quil::shell {

// The peak of PCM samples as a fraction of full scale (0..1); 0 for formats other than 8-bit
// unsigned and 16-bit signed PCM or for no data.
double PeakLevel(const void* data, int bytes, const PCMWAVEFORMAT& format);

class LevelMeter final : public QWidget {
    Q_OBJECT

public:
    explicit LevelMeter(QWidget* parent = nullptr);

    // A peak as a fraction of full scale.
    void SetLevel(double peak);
    double Level() const { return peak_; }
    // The lit part of the bar, 0..1, on the decibel scale.
    double LitFraction() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double peak_ = 0;
};

}  // namespace quil::shell
