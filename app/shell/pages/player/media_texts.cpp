#include "app/shell/pages/player/media_texts.h"

#include <QFile>

#include <cmath>
#include <limits>

#include "app/settings/output_naming.h"

namespace quil::shell {

QString DurationText(double seconds) {
    if (!(seconds > 0)) return QString::fromStdString(settings::FormatDuration(0));
    double whole = std::trunc(seconds);
    int clamped = whole > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                          : static_cast<int>(whole);
    return QString::fromStdString(settings::FormatDuration(clamped));
}

QString SizeText(uint64_t bytes) {
    if (bytes <= std::numeric_limits<uint32_t>::max())
        return QString::fromStdString(settings::FormatByteSize(static_cast<uint32_t>(bytes)));
    return QString::number(bytes / 1024) + " kbs";
}

QString FormatText(const PCMWAVEFORMAT& format) {
    double kiloHertz = static_cast<double>(format.nSamplesPerSec / 1000);
    return QString::asprintf("%2.0fkHz %dBits %s", kiloHertz,
                             static_cast<int>(format.wBitsPerSample),
                             format.nChannels > 1 ? "Stereo" : "Mono");
}

QString DisplayPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace quil::shell
