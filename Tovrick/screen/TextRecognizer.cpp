#include "Tovrick/screen/TextRecognizer.h"

#include "Tovrick/screen/ScreenReaderError.h"

#include <QCoreApplication>
#include <QThread>
#include <QScopeGuard>
#include <QThreadPool>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <bit>
#include <atomic>
#include <cstdlib>
#include <latch>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kCell = 8;          // pixels per side of the cells that text is found in
constexpr int kEdge = 40;         // a grey step this large between neighbours is an edge
constexpr int kJoinAcross = 2;    // cells: gaps up to this wide join words and lines into a block
constexpr int kJoinDown = 1;
constexpr int kGrowCells = 3;     // how far a block may grow to take in the sparse parts of glyphs
constexpr int kMargin = 4;        // pixels around a block, so no stroke is cut
constexpr int kRowTolerance = 10; // blocks whose tops differ less than this are read left to right
constexpr int kBandHeight = 160;  // pixels: the height bands of a tall block are cut at, at least

// A Tesseract engine: loading its model takes tens of milliseconds, so engines are kept and reused.
struct Engine {
    tesseract::TessBaseAPI api;
    bool ready = false;
    Engine()
    {
        ready = api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
        if (!ready)
            return;
        // Blocks are turned dark-on-light before they get here: the engine's own per-line retry
        // with inverted pixels only costs time.
        api.SetVariable("tessedit_do_invert", "0");
        api.SetVariable("debug_file", "/dev/null");
    }
};

struct RegionResult {
    QList<TextRecognizer::Line> lines;
    bool failed = false;
};

RegionResult readRegion(Engine& engine, const QImage& gray, const TextRecognizer::Region& region,
                        const TextRecognizer::Options& options)
{
    RegionResult result;
    if (!engine.ready) {
        result.failed = true;
        return result;
    }
    QImage crop = gray.copy(region.box);
    if (region.inverted)
        crop.invertPixels();
    tesseract::TessBaseAPI& api = engine.api;
    api.SetPageSegMode(options.autoSegmentation ? tesseract::PSM_AUTO : tesseract::PSM_SINGLE_BLOCK);
    api.SetImage(crop.constBits(), crop.width(), crop.height(), 1, static_cast<int>(crop.bytesPerLine()));
    api.SetSourceResolution(96);
    if (api.Recognize(nullptr) != 0) {
        api.Clear();
        return result;
    }
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (it) {
        TextRecognizer::Line line;
        auto flush = [&] {
            if (!line.words.isEmpty())
                result.lines.append(line);
            line = {};
        };
        do {
            if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE))
                flush();
            if (it->Empty(tesseract::RIL_WORD))
                continue;
            std::unique_ptr<char[]> raw(it->GetUTF8Text(tesseract::RIL_WORD));
            const QString text = QString::fromUtf8(raw.get()).trimmed();
            const float confidence = it->Confidence(tesseract::RIL_WORD);
            int left = 0, top = 0, right = 0, bottom = 0;
            if (text.isEmpty() || confidence < static_cast<float>(options.minConfidence)
                || !it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom))
                continue;
            const QRect box = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)).translated(region.box.topLeft());
            line.words.append({text, box, confidence});
            line.box = line.box.isNull() ? box : line.box.united(box);
        } while (it->Next(tesseract::RIL_WORD));
        flush();
    }
    api.Clear();
    return result;
}

// The background of a block is its most common grey; dark backgrounds carry light text.
bool darkBackground(const QImage& gray, const QRect& box)
{
    int bins[32] = {};
    for (int y = box.top(); y <= box.bottom(); y += 2) {
        const uchar* row = gray.constScanLine(y);
        for (int x = box.left(); x <= box.right(); x += 2)
            ++bins[row[x] >> 3];
    }
    const int mode = static_cast<int>(std::max_element(std::begin(bins), std::end(bins)) - std::begin(bins));
    return mode * 8 + 4 < 128;
}

// Cuts tall blocks into horizontal bands, only on pixel rows without text (all one grey), so no
// glyph is split; a band is read like the block it came from. Bands spread a block over the pool's
// engines, and they are what a later reading reuses: a change re-reads only the bands it touches.
QList<TextRecognizer::Region> splitIntoBands(const QImage& gray, const QList<TextRecognizer::Region>& regions)
{
    QList<TextRecognizer::Region> bands;
    for (const auto& region : regions) {
        const QRect box = region.box;
        int top = box.top();
        for (int y = top + kBandHeight; y < box.bottom() - kBandHeight / 2; ++y) {
            const uchar* row = gray.constScanLine(y);
            const auto [low, high] = std::minmax_element(row + box.left(), row + box.right() + 1);
            if (*high - *low > 24)
                continue;
            bands.append({QRect(box.left(), top, box.width(), y - top + 1), region.inverted});
            top = y + 1;
            y = top + kBandHeight - 1;
        }
        bands.append({QRect(box.left(), top, box.width(), box.bottom() - top + 1), region.inverted});
    }
    return bands;
}

// A band is known by where it is, its shade and every one of its pixels.
size_t bandKey(const QImage& gray, const TextRecognizer::Region& region)
{
    const QRect& box = region.box;
    size_t seed = qHashMulti(0, box.x(), box.y(), box.width(), box.height(), region.inverted);
    for (int y = box.top(); y <= box.bottom(); ++y)
        seed = qHashBits(gray.constScanLine(y) + box.left(), static_cast<size_t>(box.width()), seed);
    return seed;
}

// The pool's threads do nothing but recognise: named, a look at the process's threads (top -H,
// /proc/<pid>/task) tells what recognition costs.
void nameRecognitionThread()
{
    thread_local const bool named = [] {
        ::pthread_setname_np(::pthread_self(), "text-recognizer");
        return true;
    }();
    Q_UNUSED(named);
}

} // namespace

// Engines are handed out one per running task, so there are never more than the pool's threads.
// They are declared before the threads so that the threads have stopped when they are destroyed.
struct TextRecognizer::Pool {
    std::mutex mutex;
    std::vector<std::unique_ptr<Engine>> idle;
    QThreadPool threads;

    std::unique_ptr<Engine> take()
    {
        {
            std::lock_guard lock(mutex);
            if (!idle.empty()) {
                auto engine = std::move(idle.back());
                idle.pop_back();
                return engine;
            }
        }
        return std::make_unique<Engine>();
    }
    void give(std::unique_ptr<Engine> engine)
    {
        std::lock_guard lock(mutex);
        idle.push_back(std::move(engine));
    }
};

// The bands of the previous reading and their lines: between two readings most of a screen stays
// as it was, and reading only what changed saves most of the work.
struct TextRecognizer::Cache {
    std::mutex mutex;
    std::unordered_map<size_t, QList<TextRecognizer::Line>> bands;
};

// Readings under way: the engines are only ended once none is, so an application that ends in the
// middle of a reading does not pull its engines away from it.
struct TextRecognizer::Readings {
    std::mutex mutex;
    std::condition_variable allDone;
    int active = 0;
    bool closed = false;
};

TextRecognizer& TextRecognizer::shared()
{
    static TextRecognizer recognizer;
    // The engines hand their dictionaries back to the engine library's own cache, which is a
    // static of its own: stop them while the program is still whole, when the application ends.
    static const bool stopsWithTheApplication = [] {
        qAddPostRoutine([] { recognizer.shutDown(); });
        return true;
    }();
    Q_UNUSED(stopsWithTheApplication);
    return recognizer;
}

TextRecognizer::TextRecognizer() : TextRecognizer(Options {}) {}

TextRecognizer::TextRecognizer(Options options)
    : m_pool(std::make_unique<Pool>()), m_cache(std::make_unique<Cache>()),
      m_readings(std::make_unique<Readings>()), m_options(options)
{
    if (m_options.engines <= 0)
        m_options.engines = std::clamp(QThread::idealThreadCount(), 1, 4);
    m_pool->threads.setMaxThreadCount(m_options.engines);
    m_pool->threads.setExpiryTimeout(-1);
}

TextRecognizer::~TextRecognizer() = default;

void TextRecognizer::shutDown()
{
    {
        std::unique_lock lock(m_readings->mutex);
        m_readings->closed = true;
        m_readings->allDone.wait(lock, [this] { return m_readings->active == 0; });
    }
    m_pool.reset();
}

void TextRecognizer::releaseIdleEngines()
{
    if (m_pool) {
        std::vector<std::unique_ptr<Engine>> idle;
        {
            std::lock_guard lock(m_pool->mutex);
            idle.swap(m_pool->idle);
        }
    }
    std::lock_guard lock(m_cache->mutex);
    m_cache->bands.clear();
}

QImage TextRecognizer::grayscale(const QImage& image)
{
    return image.convertToFormat(QImage::Format_Grayscale8);
}

QList<TextRecognizer::Region> TextRecognizer::findTextRegions(const QImage& gray)
{
    const int width = gray.width();
    const int height = gray.height();
    const int gw = (width + kCell - 1) / kCell;
    const int gh = (height + kCell - 1) / kCell;
    if (gw == 0 || gh == 0)
        return {};

    // A cell holds text when it has edges in several columns and several rows: glyphs do, while
    // the straight lines and corners of window frames and panels have them in one or two only.
    static_assert(kCell == 8, "one bit per column and row of a cell");
    std::vector<quint8> columns(static_cast<size_t>(gw) * gh), rows(columns.size());
    for (int y = 0; y < height; ++y) {
        const uchar* row = gray.constScanLine(y);
        const uchar* next = y + 1 < height ? gray.constScanLine(y + 1) : nullptr;
        quint8* columnsRow = &columns[static_cast<size_t>(y / kCell) * gw];
        quint8* rowsRow = &rows[static_cast<size_t>(y / kCell) * gw];
        const quint8 rowBit = static_cast<quint8>(1u << (y % kCell));
        for (int x = 0; x < width; ++x) {
            if (x + 1 < width && std::abs(row[x + 1] - row[x]) > kEdge)
                columnsRow[x / kCell] |= static_cast<quint8>(1u << (x % kCell));
            if (next && std::abs(next[x] - row[x]) > kEdge)
                rowsRow[x / kCell] |= rowBit;
        }
    }
    std::vector<char> ink(columns.size());
    for (size_t i = 0; i < ink.size(); ++i)
        ink[i] = std::popcount(columns[i]) >= 3 && std::popcount(rows[i]) >= 3;

    std::vector<char> joined(ink.size());
    for (int cy = 0; cy < gh; ++cy)
        for (int cx = 0; cx < gw; ++cx) {
            if (!ink[static_cast<size_t>(cy) * gw + cx])
                continue;
            for (int y = std::max(0, cy - kJoinDown); y <= std::min(gh - 1, cy + kJoinDown); ++y)
                for (int x = std::max(0, cx - kJoinAcross); x <= std::min(gw - 1, cx + kJoinAcross); ++x)
                    joined[static_cast<size_t>(y) * gw + x] = 1;
        }

    // Blocks: connected joined cells; each box is that of the inked cells in it.
    QList<QRect> boxes;
    std::vector<char> seen(ink.size());
    std::vector<int> stack;
    for (int start = 0; start < gw * gh; ++start) {
        if (!joined[static_cast<size_t>(start)] || seen[static_cast<size_t>(start)])
            continue;
        int minX = gw, minY = gh, maxX = -1, maxY = -1, inked = 0;
        stack.assign(1, start);
        seen[static_cast<size_t>(start)] = 1;
        while (!stack.empty()) {
            const int cell = stack.back();
            stack.pop_back();
            const int cx = cell % gw;
            const int cy = cell / gw;
            if (ink[static_cast<size_t>(cell)]) {
                ++inked;
                minX = std::min(minX, cx);
                maxX = std::max(maxX, cx);
                minY = std::min(minY, cy);
                maxY = std::max(maxY, cy);
            }
            const int neighbours[4][2] = {{cx - 1, cy}, {cx + 1, cy}, {cx, cy - 1}, {cx, cy + 1}};
            for (const auto& n : neighbours) {
                if (n[0] < 0 || n[1] < 0 || n[0] >= gw || n[1] >= gh)
                    continue;
                const int index = n[1] * gw + n[0];
                if (joined[static_cast<size_t>(index)] && !seen[static_cast<size_t>(index)]) {
                    seen[static_cast<size_t>(index)] = 1;
                    stack.push_back(index);
                }
            }
        }
        if (inked < 2)
            continue;
        // Large glyphs have parts with too few edges to count (the end of a T's bar): take in the
        // cells beside the block with edges both across and down, a few at most. Frame lines
        // have edges one way only and stay out.
        auto weak = [&](int cx, int cy) {
            const size_t i = static_cast<size_t>(cy) * gw + cx;
            return columns[i] != 0 && rows[i] != 0;
        };
        auto columnHasEdges = [&](int cx) {
            for (int cy = minY; cy <= maxY; ++cy)
                if (weak(cx, cy))
                    return true;
            return false;
        };
        auto rowHasEdges = [&](int cy) {
            for (int cx = minX; cx <= maxX; ++cx)
                if (weak(cx, cy))
                    return true;
            return false;
        };
        for (int step = 0; step < kGrowCells && minX > 0 && columnHasEdges(minX - 1); ++step)
            --minX;
        for (int step = 0; step < kGrowCells && maxX + 1 < gw && columnHasEdges(maxX + 1); ++step)
            ++maxX;
        for (int step = 0; step < kGrowCells && minY > 0 && rowHasEdges(minY - 1); ++step)
            --minY;
        for (int step = 0; step < kGrowCells && maxY + 1 < gh && rowHasEdges(maxY + 1); ++step)
            ++maxY;
        boxes.append(QRect(minX * kCell - kMargin, minY * kCell - kMargin,
                           (maxX - minX + 1) * kCell + 2 * kMargin, (maxY - minY + 1) * kCell + 2 * kMargin)
                         .intersected(gray.rect()));
    }

    // Overlapping boxes would read the same text twice: merge until none overlap.
    for (bool merged = true; merged;) {
        merged = false;
        for (qsizetype i = 0; i < boxes.size() && !merged; ++i)
            for (qsizetype j = i + 1; j < boxes.size(); ++j)
                if (boxes[i].intersects(boxes[j])) {
                    boxes[i] = boxes[i].united(boxes[j]);
                    boxes.removeAt(j);
                    merged = true;
                    break;
                }
    }

    // Reading order: rows of blocks whose tops are close, each row left to right.
    std::sort(boxes.begin(), boxes.end(), [](const QRect& a, const QRect& b) {
        return a.top() != b.top() ? a.top() < b.top() : a.left() < b.left();
    });
    QList<Region> regions;
    for (qsizetype rowStart = 0; rowStart < boxes.size();) {
        qsizetype rowEnd = rowStart + 1;
        while (rowEnd < boxes.size() && boxes[rowEnd].top() - boxes[rowStart].top() < kRowTolerance)
            ++rowEnd;
        std::sort(boxes.begin() + rowStart, boxes.begin() + rowEnd,
                  [](const QRect& a, const QRect& b) { return a.left() < b.left(); });
        for (qsizetype i = rowStart; i < rowEnd; ++i)
            regions.append({boxes[i], darkBackground(gray, boxes[i])});
        rowStart = rowEnd;
    }
    return regions;
}

QList<TextRecognizer::Line> TextRecognizer::recognize(const QImage& image)
{
    if (image.isNull())
        return {};
    {
        std::lock_guard lock(m_readings->mutex);
        if (m_readings->closed || !m_pool)
            throw ScreenReaderError(ScreenReaderError::Kind::recognitionFailed);
        ++m_readings->active;
    }
    const auto finished = qScopeGuard([this] {
        std::lock_guard lock(m_readings->mutex);
        --m_readings->active;
        m_readings->allDone.notify_all();
    });
    const QImage gray = grayscale(image);
    const QList<Region> bands = splitIntoBands(gray, findTextRegions(gray));
    std::vector<size_t> keys(static_cast<size_t>(bands.size()));
    std::vector<std::optional<QList<Line>>> known(keys.size());
    QList<Region> regions; // the bands to read now
    std::vector<size_t> regionBands;
    {
        std::lock_guard lock(m_cache->mutex);
        for (qsizetype i = 0; i < bands.size(); ++i) {
            const size_t at = static_cast<size_t>(i);
            keys[at] = bandKey(gray, bands[i]);
            const auto found = m_cache->bands.find(keys[at]);
            if (found != m_cache->bands.end()) {
                known[at] = found->second;
            } else {
                regions.append(bands[i]);
                regionBands.push_back(at);
            }
        }
    }

    // Largest bands first, so the pool does not end waiting on one big band started last.
    std::vector<qsizetype> order(static_cast<size_t>(regions.size()));
    for (qsizetype i = 0; i < regions.size(); ++i)
        order[static_cast<size_t>(i)] = i;
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return qint64(regions[a].box.width()) * regions[a].box.height()
            > qint64(regions[b].box.width()) * regions[b].box.height();
    });

    std::vector<RegionResult> results(static_cast<size_t>(regions.size()));
    // A latch rather than futures: waiting on a future may run the work on the waiting thread
    // instead of the pool's.
    std::latch done(static_cast<std::ptrdiff_t>(regions.size()));
    const Options options = m_options;
    for (const qsizetype index : order) {
        m_pool->threads.start([&, index, options] {
            nameRecognitionThread();
            auto engine = m_pool->take();
            results[static_cast<size_t>(index)] = readRegion(*engine, gray, regions[index], options);
            m_pool->give(std::move(engine));
            done.count_down();
        });
    }
    done.wait();

    bool anyRead = regions.isEmpty();
    for (size_t i = 0; i < results.size(); ++i) {
        anyRead = anyRead || !results[i].failed;
        if (!results[i].failed)
            known[regionBands[i]] = results[i].lines;
    }
    if (!anyRead)
        throw ScreenReaderError(ScreenReaderError::Kind::recognitionFailed);

    QList<Line> lines;
    std::unordered_map<size_t, QList<Line>> remembered;
    for (size_t band = 0; band < keys.size(); ++band) {
        if (!known[band])
            continue; // its engine failed: the rest of the screen still counts
        lines.append(*known[band]);
        remembered.emplace(keys[band], *known[band]);
    }
    std::lock_guard lock(m_cache->mutex);
    m_cache->bands.swap(remembered);
    return lines;
}
