#include "engine/ffmpeg/images/Palette.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <unordered_map>

namespace trimora {

namespace {

constexpr size_t kExactColourLimit = 65536;  // beyond this, colours are gathered in a histogram
constexpr int kHistogramBits = 6;            // per channel: 262144 cells, fine enough for video pictures
constexpr int kRefinementRounds = 4;

uint32_t PackColour(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

// One occupied histogram cell: how many pixels fell into it and the mean of their colours.
struct Cell {
    double colour[3];
    double count;
};

struct Box {
    size_t begin, end;  // range of cells
    double error;       // sum of squared distances of the cells' pixels to the box mean
    int widestChannel;
};

Box MeasureBox(const std::vector<Cell>& cells, size_t begin, size_t end) {
    double count = 0, sum[3] = {0, 0, 0}, squares[3] = {0, 0, 0};
    for (size_t i = begin; i < end; ++i)
        for (int c = 0; c < 3; ++c) {
            const double weighted = cells[i].colour[c] * cells[i].count;
            sum[c] += weighted;
            squares[c] += weighted * cells[i].colour[c];
        }
    for (size_t i = begin; i < end; ++i) count += cells[i].count;
    Box box{begin, end, 0, 0};
    double widest = -1;
    for (int c = 0; c < 3; ++c) {
        const double spread = squares[c] - sum[c] * sum[c] / count;
        box.error += spread;
        if (spread > widest) {
            widest = spread;
            box.widestChannel = c;
        }
    }
    if (end - begin < 2) box.error = 0;  // a single cell cannot be split
    return box;
}

std::vector<RgbColour> MedianCut(std::vector<Cell>& cells, int maxColours) {
    std::vector<Box> boxes{MeasureBox(cells, 0, cells.size())};
    while (static_cast<int>(boxes.size()) < maxColours) {
        auto worst = std::max_element(boxes.begin(), boxes.end(),
                                      [](const Box& a, const Box& b) { return a.error < b.error; });
        if (worst->error <= 0) break;
        const Box box = *worst;
        const int channel = box.widestChannel;
        std::sort(cells.begin() + static_cast<ptrdiff_t>(box.begin), cells.begin() + static_cast<ptrdiff_t>(box.end),
                  [channel](const Cell& a, const Cell& b) { return a.colour[channel] < b.colour[channel]; });
        double total = 0;
        for (size_t i = box.begin; i < box.end; ++i) total += cells[i].count;
        double running = 0;
        size_t split = box.begin + 1;
        for (size_t i = box.begin; i < box.end - 1; ++i) {
            running += cells[i].count;
            split = i + 1;
            if (running >= total / 2) break;
        }
        *worst = MeasureBox(cells, box.begin, split);
        boxes.push_back(MeasureBox(cells, split, box.end));
    }
    std::vector<RgbColour> palette;
    for (const Box& box : boxes) {
        double count = 0, sum[3] = {0, 0, 0};
        for (size_t i = box.begin; i < box.end; ++i) {
            count += cells[i].count;
            for (int c = 0; c < 3; ++c) sum[c] += cells[i].colour[c] * cells[i].count;
        }
        RgbColour colour;
        for (int c = 0; c < 3; ++c) colour[c] = static_cast<uint8_t>(std::clamp(sum[c] / count + 0.5, 0.0, 255.0));
        palette.push_back(colour);
    }
    return palette;
}

int SquaredDistance(const RgbColour& a, const uint8_t* b) {
    const int dr = a[0] - b[0], dg = a[1] - b[1], db = a[2] - b[2];
    return dr * dr + dg * dg + db * db;
}

// Nearest-colour search over a palette sorted by green: the green difference alone bounds the
// distance, so the search walks outwards from the closest green and stops early.
class NearestColour {
public:
    explicit NearestColour(const std::vector<RgbColour>& palette) : palette_(palette), order_(palette.size()) {
        std::iota(order_.begin(), order_.end(), 0);
        std::sort(order_.begin(), order_.end(), [&](int a, int b) { return palette_[a][1] < palette_[b][1]; });
        for (size_t i = 0; i < order_.size(); ++i) greens_.push_back(palette_[order_[i]][1]);
    }

    int Find(const uint8_t* colour) const {
        const auto start = std::lower_bound(greens_.begin(), greens_.end(), colour[1]) - greens_.begin();
        int best = -1, bestDistance = 1 << 30;
        auto consider = [&](ptrdiff_t i) {
            const int index = order_[static_cast<size_t>(i)];
            const int distance = SquaredDistance(palette_[index], colour);
            if (distance < bestDistance || (distance == bestDistance && index < best)) {
                bestDistance = distance;
                best = index;
            }
        };
        ptrdiff_t up = start, down = start - 1;
        const auto size = static_cast<ptrdiff_t>(order_.size());
        while (up < size || down >= 0) {
            if (up < size) {
                const int dg = greens_[static_cast<size_t>(up)] - colour[1];
                if (dg * dg > bestDistance) up = size;
                else consider(up++);
            }
            if (down >= 0) {
                const int dg = colour[1] - greens_[static_cast<size_t>(down)];
                if (dg * dg > bestDistance) down = -1;
                else consider(down--);
            }
        }
        return best;
    }

private:
    const std::vector<RgbColour>& palette_;
    std::vector<int> order_;
    std::vector<uint8_t> greens_;
};

}  // namespace

std::vector<RgbColour> BuildPalette(const RgbImage& image, int maxColours) {
    if (maxColours < 1 || maxColours > 256) throw std::invalid_argument("a palette holds 1 to 256 colours");
    const size_t pixelCount = static_cast<size_t>(image.width) * image.height;
    if (pixelCount == 0) return {RgbColour{0, 0, 0}};

    // Count the distinct colours while there are few enough to work on them one by one.
    std::unordered_map<uint32_t, uint32_t> distinct;
    for (size_t i = 0; i < pixelCount && distinct.size() <= kExactColourLimit; ++i)
        ++distinct[PackColour(&image.pixels[i * 3])];

    // Few colours: keep them all, exactly.
    if (distinct.size() <= static_cast<size_t>(maxColours)) {
        std::vector<uint32_t> packed;
        for (const auto& entry : distinct) packed.push_back(entry.first);
        std::sort(packed.begin(), packed.end());
        std::vector<RgbColour> palette;
        for (uint32_t p : packed)
            palette.push_back({static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)});
        return palette;
    }

    std::vector<Cell> cells;
    if (distinct.size() <= kExactColourLimit) {
        for (const auto& [packed, count] : distinct)
            cells.push_back(Cell{{static_cast<double>(packed >> 16), static_cast<double>((packed >> 8) & 0xFF),
                                  static_cast<double>(packed & 0xFF)},
                                 static_cast<double>(count)});
        // A fixed order, so the same picture always gets the same palette.
        std::sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
            return std::lexicographical_compare(a.colour, a.colour + 3, b.colour, b.colour + 3);
        });
    } else {
        // Many colours: a histogram whose cells keep the exact mean of their pixels.
        constexpr int shift = 8 - kHistogramBits;
        std::vector<Cell> histogram(size_t{1} << (3 * kHistogramBits), Cell{{0, 0, 0}, 0});
        for (size_t i = 0; i < pixelCount; ++i) {
            const uint8_t* p = &image.pixels[i * 3];
            const size_t key = (size_t{p[0]} >> shift) << (2 * kHistogramBits) |
                               (size_t{p[1]} >> shift) << kHistogramBits | (size_t{p[2]} >> shift);
            Cell& cell = histogram[key];
            for (int c = 0; c < 3; ++c) cell.colour[c] += p[c];
            cell.count += 1;
        }
        for (Cell& cell : histogram)
            if (cell.count > 0) {
                for (double& c : cell.colour) c /= cell.count;
                cells.push_back(cell);
            }
    }

    std::vector<RgbColour> palette = MedianCut(cells, maxColours);

    // k-means refinement: move each colour to the mean of the cells nearest to it.
    for (int round = 0; round < kRefinementRounds; ++round) {
        std::vector<std::array<double, 4>> sums(palette.size(), {0, 0, 0, 0});
        const NearestColour nearest(palette);
        for (const Cell& cell : cells) {
            const uint8_t colour[3] = {static_cast<uint8_t>(cell.colour[0] + 0.5), static_cast<uint8_t>(cell.colour[1] + 0.5),
                                       static_cast<uint8_t>(cell.colour[2] + 0.5)};
            auto& sum = sums[static_cast<size_t>(nearest.Find(colour))];
            for (int c = 0; c < 3; ++c) sum[c] += cell.colour[c] * cell.count;
            sum[3] += cell.count;
        }
        for (size_t i = 0; i < palette.size(); ++i)
            if (sums[i][3] > 0)
                for (int c = 0; c < 3; ++c)
                    palette[i][c] = static_cast<uint8_t>(std::clamp(sums[i][c] / sums[i][3] + 0.5, 0.0, 255.0));
    }
    return palette;
}

std::vector<uint8_t> MapToPalette(const RgbImage& image, const std::vector<RgbColour>& palette) {
    if (palette.empty() || palette.size() > 256) throw std::invalid_argument("a palette holds 1 to 256 colours");
    const size_t pixelCount = static_cast<size_t>(image.width) * image.height;
    std::vector<uint8_t> indices(pixelCount);
    const NearestColour nearest(palette);
    std::unordered_map<uint32_t, uint8_t> known;
    for (size_t i = 0; i < pixelCount; ++i) {
        const uint8_t* p = &image.pixels[i * 3];
        const uint32_t key = PackColour(p);
        auto found = known.find(key);
        if (found == known.end()) found = known.emplace(key, static_cast<uint8_t>(nearest.Find(p))).first;
        indices[i] = found->second;
    }
    return indices;
}

PalettePicture QuantizeToPalette(const RgbImage& image, int maxColours) {
    PalettePicture result;
    result.palette = BuildPalette(image, maxColours);
    result.indices = MapToPalette(image, result.palette);
    return result;
}

}  // namespace trimora
