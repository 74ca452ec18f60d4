// DemodControlNames: every statistic a receiver port can report, with its value type and the
// unit and scale of its value.
#include "KxStatistic.h"

namespace Kxapi {

namespace {

const KxStatisticInfo DemodControlNames[] = {
    {3, 3, "BadPckCnt", "Bad packet count", "count", 1.0},
    {1, 3, "Agc1", "First Agc value", "steps", 1.0},
    {2, 3, "Agc2", "Second Agc value", "steps", 1.0},
    {5, 3, "RfLvlChan", "Rf level channel", "dBmV", 0.1},
    {6, 3, "RfLvlNarrow", "Rf level narrowband", "dBmV", 0.1},
    {7, 3, "RfLvlUncalib", "Rf Level uncalibrated (dBmv)", "dBmV", 0.1},
    {8, 3, "RS", "Reed Solomon error count", "count", 1.0},
    {9, 3, "TempTuner", "Temperature tuner", "degC", 1.0},
    {10, 3, "RelockCnt", "Receiver re-lock count", "count", 1.0},
    {11, 3, "T2miOvfs", "T2-MI overflow count", "count", 1.0},
    {12, 3, "T2L1PreErrCnt", "DVB-T2 L1-Pre error count", "count", 1.0},
    {13, 3, "T2L1PostErrCnt", "DVB-T2 L1-Post error count", "count", 1.0},
    {14, 3, "C2L1HdrErrCnt", "DVB-C2 L1 preamble header count", "count", 1.0},
    {15, 3, "C2L1Part2ErrCnt", "DVB-C2 L1-Part 2 error count", "count", 1.0},
    {16, 3, "C2DSliceDiscCnt", "DVB-C2 Data slice discontinuity count", "count", 1.0},
    {21, 3, "RfLvlChanQs", "Rf level channel (Quick-scan)", "dBmV", 0.1},
    {22, 3, "RfLvlNarrowQs", "Rf level narrowband (Quick-scan)", "dBmV", 0.1},
    {23, 3, "TempEncoder", "Temperature encoder", "degC", 1.0},
    {24, 3, "VideoStatus", "Video status"},
    {25, 3, "VidFramesCapt", "Video frames captured", "count", 1.0},
    {26, 3, "VidFramesEnc", "Video frames encoded", "count", 1.0},
    {27, 3, "VidBytesEnc", "Video bytes encoded", "count", 1.0},
    {28, 3, "AudSamplesEnc", "Audio samples encoded", "count", 1.0},
    {29, 3, "AudFramesEnc", "Audio frames encoded", "count", 1.0},
    {30, 3, "MuxNumBytes", "Multiplexer number of bytes", "count", 1.0},
    {31, 3, "Atsc3L1BErrCnt", "ATSC 3.0 L1-Basic CRC error count", "count", 1.0},
    {32, 3, "Atsc3L1DErrCnt", "ATSC 3.0 L1-Detail CRC error count", "count", 1.0},
    {33, 3, "LockPerc", "Lock percentage", "%", 1.0},
    {34, 3, "MerPlHeaders", "MER DVBS2 Pl headers", "dB", 0.1},
    {256, 2, "BerPostBCH", "Post-BCH bit error rate", "ratio", 1.0},
    {257, 2, "BerPostLDPC", "Post-LDPC bit error rate", "ratio", 1.0},
    {258, 2, "BerPostVit", "Post-Viterbi bit error rate", "ratio", 1.0},
    {259, 2, "BerPreRS", "Pre-Reed Solomon bit error rate", "ratio", 1.0},
    {260, 2, "BerPreVit", "Pre-Viterbi bit error rate", "ratio", 1.0},
    {261, 3, "CNR", "Carrier to noise ratio", "dB", 0.1},
    {262, 3, "MER", "Modulation error ratio", "dB", 0.1},
    {263, 3, "SNR", "Signal to noise ratio", "dB", 0.1},
    {264, 2, "PER", "Packet error rate", "ratio", 1.0},
    {266, 3, "RfLvlUncalibDbm", "Rf Level uncalibrated (dBm)", "dBm", 0.1},
    {267, 2, "FreqShift", "Frequency shift Hz", "Hz", 1.0},
    {268, 2, "SampRateOffset", "Sample rate offset (ppm)", "ppm", 1.0},
    {269, 2, "BerPreBCH", "Pre-BCH bit error rate", "ratio", 1.0},
    {270, 2, "BerPreLDPC", "Pre-LDPC bit error rate", "ratio", 1.0},
    {271, 3, "LinkMargin", "Link margin", "dB", 0.1},
    {272, 3, "Es/N0", "Es/N0", "dB", 0.1},
    {273, 3, "Eb/N0", "Eb/N0", "dB", 0.1},
    {274, 2, "OccupiedBandwidth", "Occupied Bandwidth", "MHz", 1.0},
    {275, 2, "RollOffFactor", "Roll-off factor", "ratio", 1.0},
    {276, 3, "SyntaxErrCnt", "SDI bitstream syntax error count", "count", 1.0},
    {277, 3, "OverflowErrCnt", "SDI kernel<>api overflow count", "count", 1.0},
    {278, 2, "FerPostBCH", "Post-BCH frame error rate", "ratio", 1.0},
    {279, 2, "FerPostLDPC", "Post-LDPC frame error rate", "ratio", 1.0},
    {512, 1, "Lock", "General Lock"},
    {513, 1, "CarrierLock", "Carrier lock"},
    {514, 1, "FECLock", "FEC lock"},
    {515, 1, "PacketLock", "Packet lock"},
    {516, 1, "VitLock", "Viterbi lock"},
    {517, 1, "SpectrumInv", "Spectrum inverted"},
    {518, 1, "PlHeaderLock", "PL Header Lock"},
    {519, 1, "StreamLock", "Stream Locked"},
    {768, 4, "C2L1Part2", "DVB-C2 Layer-1 part2 data"},
    {769, 5, "DVBC2-PlpSigData", "DVB-C2 Layer-1 PLP signalling data"},
    {770, 6, "T2L1Data", "DVB-T2 Layer-1 data"},
    {771, 7, "ISDBT-PARS", "ISDB-T Parameter data"},
    {772, 8, "LdpcStats", "LDPC statistics"},
    {773, 9, "MaData", "Mode adaptation layer data"},
    {774, 10, "MaStats", "Mode adaptation layer statistics"},
    {775, 11, "PlpNumBlocks", "Number of FEC blocks info"},
    {777, 12, "VitStats", "Viterbi decoder statistics"},
    {776, 13, "DAB-Ensemble", "DAB Ensemble information"},
    {778, 14, "RsStats", "Reed-Solomon decoder statistics"},
    {779, 15, "TPS", "DVB-T TPS information"},
    {780, 16, "DAB-TII", "DAB transmitter identifiation information"},
    {781, 17, "A3L1Data", "ATSC 3.0 Layer-1 data"},
    {782, 18, "T2-TXID", "DVB-T2 transmitter identifiation information"},
    {783, 19, "A3TxIdInfo", "ATSC 3.0 transmitter identification information"},
    {784, 20, "DVBS2-Isi", "DVB-S2 Isi identifiers"},
    {785, 21, "S2IsiSig", "DVB-S2 Isi signal data"},
};

} // namespace

const KxStatisticInfo* KxFindStatistic(int32_t id)
{
    for (const KxStatisticInfo& row : DemodControlNames)
        if (row.m_Id == id)
            return &row;
    return nullptr;
}

size_t KxStatisticCount()
{
    return sizeof(DemodControlNames) / sizeof(DemodControlNames[0]);
}

const KxStatisticInfo& KxStatisticRow(size_t index)
{
    return DemodControlNames[index];
}

} // namespace Kxapi
