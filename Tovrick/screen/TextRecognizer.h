#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <memory>

// Text recognition over a pool of Tesseract engines, each created once and reused. Blocking:
// call off the main thread. Results are in pixels of the image given.
class TextRecognizer {
public:
    struct Word {
        QString text;
        QRect box;
        float confidence = 0;
    };
    struct Line {
        QRect box;
        QList<Word> words;
    };

    // How the screen is cut and read; the defaults are what the program uses.
    struct Options {
        int engines = 0;             // 0: by the number of cores, at most 4
        int minConfidence = 40;      // words below are noise (icons, borders)
        bool autoSegmentation = true; // let the engine find blocks inside a region
    };

    static TextRecognizer& shared();

    TextRecognizer();
    explicit TextRecognizer(Options options);
    ~TextRecognizer();
    TextRecognizer(const TextRecognizer&) = delete;
    TextRecognizer& operator=(const TextRecognizer&) = delete;

    // Lines in reading order. Throws ScreenReaderError (recognitionFailed) when no engine starts.
    // Blocks whose pixels are the same as in the previous reading are not read again.
    QList<Line> recognize(const QImage& image);

    // Ends the engines that are not reading now and forgets the previous reading; the next
    // reading starts them again (tens of milliseconds each).
    void releaseIdleEngines();

    // Grayscale with light text on dark backgrounds turned dark on light, region by region.
    // The regions of `regions` are read from it; exposed for tests and the benchmark.
    struct Region {
        QRect box;
        bool inverted = false;
    };
    static QImage grayscale(const QImage& image);
    static QList<Region> findTextRegions(const QImage& gray);

private:
    struct Pool;
    struct Cache;
    struct Readings;
    void shutDown();
    std::unique_ptr<Pool> m_pool;
    std::unique_ptr<Cache> m_cache;
    std::unique_ptr<Readings> m_readings;
    Options m_options;
};
