#pragma once
// Just enough of the H.264 byte formats for splicing re-encoded pictures into a copied stream:
// the MP4 configuration record (avcC), parameter set ids, and Annex-B to length-prefixed NAL units.
#include <cstdint>
#include <string>
#include <vector>

struct AvcConfig {
    uint8_t profile = 0;
    uint8_t compat = 0;
    uint8_t level = 0;
    int nal_length = 4;  // bytes of the NAL size prefix in samples
    std::vector<std::string> sps;
    std::vector<std::string> pps;
    std::string trailer;  // the High profile extension after the parameter sets, kept as is

    // Reads an avcC record; false when it is not one.
    bool parse(const uint8_t* data, int size);
    std::string build() const;
};

// seq_parameter_set_id of an SPS / pic_parameter_set_id of a PPS NAL unit (header byte included); -1
// when unreadable.
int h264SpsId(const std::string& sps);
int h264PpsId(const std::string& pps);

// The NAL units of an Annex-B byte stream, without start codes.
std::vector<std::string> h264SplitAnnexB(const uint8_t* data, int size);

// Length-prefixed sample data of the NAL units, leaving out parameter sets and access unit delimiters
// (the configuration record carries the parameter sets).
std::string h264ToSample(const std::vector<std::string>& nals, int nal_length);

// True when a length-prefixed sample holds an IDR slice.
bool h264SampleHasIdr(const uint8_t* data, int size, int nal_length);
