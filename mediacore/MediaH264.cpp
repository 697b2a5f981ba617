#include "MediaH264.h"

namespace {

// Exp-Golomb reader over the RBSP of a NAL unit (emulation prevention bytes skipped).
class BitReader {
public:
    explicit BitReader(const std::string& nal, size_t from) {
        int zeros = 0;
        for (size_t i = from; i < nal.size(); ++i) {
            uint8_t b = uint8_t(nal[i]);
            if (zeros >= 2 && b == 3) {
                zeros = 0;
                continue;
            }
            zeros = (b == 0) ? zeros + 1 : 0;
            m_bytes.push_back(b);
        }
    }
    int bit() {
        if (m_pos >= m_bytes.size() * 8) {
            m_bad = true;
            return 0;
        }
        int b = (m_bytes[m_pos / 8] >> (7 - m_pos % 8)) & 1;
        ++m_pos;
        return b;
    }
    int ue() {
        int zeros = 0;
        while (bit() == 0 && !m_bad) {
            if (++zeros > 31) {
                m_bad = true;
                return -1;
            }
        }
        int v = 0;
        for (int i = 0; i < zeros; ++i) {
            v = (v << 1) | bit();
        }
        return m_bad ? -1 : (1 << zeros) - 1 + v;
    }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_pos = 0;
    bool m_bad = false;
};

void put16(std::string& s, size_t v) {
    s.push_back(char((v >> 8) & 0xff));
    s.push_back(char(v & 0xff));
}

}  // namespace

bool AvcConfig::parse(const uint8_t* d, int size) {
    if (!d || size < 7 || d[0] != 1) {
        return false;
    }
    profile = d[1];
    compat = d[2];
    level = d[3];
    nal_length = (d[4] & 3) + 1;
    sps.clear();
    pps.clear();
    int pos = 5;
    for (int list = 0; list < 2; ++list) {
        if (pos >= size) {
            return false;
        }
        int count = list == 0 ? (d[pos] & 0x1f) : d[pos];
        ++pos;
        for (int i = 0; i < count; ++i) {
            if (pos + 2 > size) {
                return false;
            }
            int len = (d[pos] << 8) | d[pos + 1];
            pos += 2;
            if (len <= 0 || pos + len > size) {
                return false;
            }
            (list == 0 ? sps : pps).emplace_back(reinterpret_cast<const char*>(d + pos), size_t(len));
            pos += len;
        }
    }
    trailer.assign(reinterpret_cast<const char*>(d + pos), size_t(size - pos));
    return !sps.empty() && !pps.empty() && nal_length != 3;
}

std::string AvcConfig::build() const {
    std::string s;
    s.push_back(1);
    s.push_back(char(profile));
    s.push_back(char(compat));
    s.push_back(char(level));
    s.push_back(char(0xfc | (nal_length - 1)));
    s.push_back(char(0xe0 | sps.size()));
    for (const std::string& n : sps) {
        put16(s, n.size());
        s += n;
    }
    s.push_back(char(pps.size()));
    for (const std::string& n : pps) {
        put16(s, n.size());
        s += n;
    }
    return s + trailer;
}

int h264SpsId(const std::string& sps) {
    if (sps.size() < 5 || (sps[0] & 0x1f) != 7) {
        return -1;
    }
    BitReader r(sps, 4);  // after the header byte, profile_idc, constraint flags and level_idc
    return r.ue();
}

int h264PpsId(const std::string& pps) {
    if (pps.size() < 2 || (pps[0] & 0x1f) != 8) {
        return -1;
    }
    BitReader r(pps, 1);
    return r.ue();
}

std::vector<std::string> h264SplitAnnexB(const uint8_t* d, int size) {
    std::vector<std::string> nals;
    int start = -1;
    int i = 0;
    while (i + 2 < size) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            if (start >= 0) {
                int end = i;
                while (end > start && d[end - 1] == 0) {
                    --end;  // trailing zero bytes belong to the next start code
                }
                nals.emplace_back(reinterpret_cast<const char*>(d + start), size_t(end - start));
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start >= 0 && start < size) {
        nals.emplace_back(reinterpret_cast<const char*>(d + start), size_t(size - start));
    }
    return nals;
}

std::string h264ToSample(const std::vector<std::string>& nals, int nal_length) {
    std::string s;
    for (const std::string& n : nals) {
        int type = n.empty() ? 0 : (n[0] & 0x1f);
        if (n.empty() || type == 7 || type == 8 || type == 9) {
            continue;
        }
        for (int b = nal_length - 1; b >= 0; --b) {
            s.push_back(char((n.size() >> (8 * b)) & 0xff));
        }
        s += n;
    }
    return s;
}

bool h264SampleHasIdr(const uint8_t* d, int size, int nal_length) {
    int pos = 0;
    while (pos + nal_length < size) {
        uint32_t len = 0;
        for (int b = 0; b < nal_length; ++b) {
            len = (len << 8) | d[pos + b];
        }
        pos += nal_length;
        if (len == 0 || len > uint32_t(size - pos)) {
            return false;
        }
        if ((d[pos] & 0x1f) == 5) {
            return true;
        }
        pos += int(len);
    }
    return false;
}
