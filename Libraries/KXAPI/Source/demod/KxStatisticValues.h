// Structured statistic values (value types 4 to 21). Each structure lists its fields once in
// Fields(), which the XML reader and writer share: scalars as attributes of the structure's
// element, lists as child elements in order.
#pragma once

#include <cstdint>
#include <vector>

namespace Kxapi {

// Largest list a structured value accepts from XML.
constexpr size_t KX_STAT_MAX_LIST = 1024;

// One DVB-C2 data slice of the L1 part 2 ("ds").
struct KxC2DataSlice {
    int32_t m_Id = 0, m_TunePosCarriers = 0, m_OffsetLeft = 0, m_OffsetRight = 0, m_TiDepth = 0, m_Type = 0,
            m_FecHeaderType = 0, m_ConstConfig = 0, m_LeftNotch = 0, m_NumPlps = 0;
    template <typename F> void Fields(F& f)
    {
        f("id", m_Id)("tunepos", m_TunePosCarriers)("offl", m_OffsetLeft)("offr", m_OffsetRight)("tidepth", m_TiDepth)(
            "type", m_Type)("fechdr", m_FecHeaderType)("constconf", m_ConstConfig)("lnotch", m_LeftNotch)(
            "nplp", m_NumPlps);
    }
    bool operator==(const KxC2DataSlice&) const = default;
};

// One DVB-C2 notch band ("notch").
struct KxC2Notch {
    int32_t m_StartCarriers = 0, m_WidthCarriers = 0;
    template <typename F> void Fields(F& f) { f("start", m_StartCarriers)("width", m_WidthCarriers); }
    bool operator==(const KxC2Notch&) const = default;
};

// 4: DVB-C2 L1 part 2 ("c2l1p2").
struct KxDvbC2L1Part2 {
    int32_t m_NetworkId = 0, m_C2SystemId = 0, m_StartFreqCarriers = 0, m_C2Bandwidth = 0, m_GuardInterval = 0,
            m_FrameLength = 0, m_L1P2ChangeCounter = 0, m_ReservedTone = 0;
    std::vector<KxC2DataSlice> m_DataSlices;
    std::vector<KxC2Notch> m_Notches;
    template <typename F> void Fields(F& f)
    {
        f("nid", m_NetworkId)("sysid", m_C2SystemId)("startfreq", m_StartFreqCarriers)("bw", m_C2Bandwidth)(
            "gi", m_GuardInterval)("framelen", m_FrameLength)("chgcnt", m_L1P2ChangeCounter)("restone", m_ReservedTone);
        f.List("ds", m_DataSlices);
        f.List("notch", m_Notches);
    }
    bool operator==(const KxDvbC2L1Part2&) const = default;
};

// 5: DVB-C2 layer-1 PLP signalling data ("c2psd").
struct KxDvbC2PlpSigData {
    int32_t m_PlpId = 0, m_Bundled = 0, m_Type = 0, m_PayloadType = 0, m_GroupId = 0, m_Start = 0, m_FecType = 0,
            m_Modulation = 0, m_CodeRate = 0, m_PsiSiReprocessing = 0, m_TsId = 0, m_OnwId = 0;
    template <typename F> void Fields(F& f)
    {
        f("plpid", m_PlpId)("bundled", m_Bundled)("type", m_Type)("payload", m_PayloadType)("grpid", m_GroupId)(
            "start", m_Start)("fectype", m_FecType)("mod", m_Modulation)("cod", m_CodeRate)("psisi",
                                                                                          m_PsiSiReprocessing)(
            "tsid", m_TsId)("onwid", m_OnwId);
    }
    bool operator==(const KxDvbC2PlpSigData&) const = default;
};

// One PLP of the DVB-T2 L1-post ("plp").
struct KxT2Plp {
    int32_t m_Id = 0, m_Type = 0, m_PayloadType = 0, m_GroupId = 0, m_CodeRate = 0, m_Modulation = 0,
            m_Rotation = 0, m_FecType = 0, m_NumBlocksMax = 0, m_FrameInterval = 0, m_TimeIlLength = 0,
            m_TimeIlType = 0, m_InBand = 0;
    template <typename F> void Fields(F& f)
    {
        f("id", m_Id)("type", m_Type)("payload", m_PayloadType)("grpid", m_GroupId)("cod", m_CodeRate)(
            "mod", m_Modulation)("rot", m_Rotation)("fectype", m_FecType)("nblkmax", m_NumBlocksMax)(
            "frmint", m_FrameInterval)("tilen", m_TimeIlLength)("titype", m_TimeIlType)("inband", m_InBand);
    }
    bool operator==(const KxT2Plp&) const = default;
};

// 6: DVB-T2 layer-1 pre- and post-signalling ("t2datal1").
struct KxDvbT2L1Data {
    int32_t m_Type = 0, m_BwtExt = 0, m_S1 = 0, m_S2 = 0, m_GuardInterval = 0, m_Papr = 0, m_L1Mod = 0, m_L1Cod = 0,
            m_L1FecType = 0, m_L1PostSize = 0, m_PilotPattern = 0, m_TxIdAvail = 0, m_CellId = 0, m_NetworkId = 0,
            m_T2SystemId = 0, m_NumT2Frames = 0, m_NumDataSymbols = 0, m_RegenFlag = 0, m_NumRf = 0,
            m_CurrentRfIdx = 0, m_T2Version = 0, m_NumSubSlices = 0, m_NumAux = 0;
    std::vector<KxT2Plp> m_Plps;
    template <typename F> void Fields(F& f)
    {
        f("type", m_Type)("bwtext", m_BwtExt)("s1", m_S1)("s2", m_S2)("gi", m_GuardInterval)("papr", m_Papr)(
            "l1mod", m_L1Mod)("l1cod", m_L1Cod)("l1fec", m_L1FecType)("l1postsz", m_L1PostSize)("pp", m_PilotPattern)(
            "txid", m_TxIdAvail)("cellid", m_CellId)("nid", m_NetworkId)("sysid", m_T2SystemId)(
            "nt2frm", m_NumT2Frames)("ndsym", m_NumDataSymbols)("regen", m_RegenFlag)("nrf", m_NumRf)(
            "currf", m_CurrentRfIdx)("ver", m_T2Version)("nsubsl", m_NumSubSlices)("naux", m_NumAux);
        f.List("plp", m_Plps);
    }
    bool operator==(const KxDvbT2L1Data&) const = default;
};

// One ISDB-T hierarchical layer A, B or C ("lyr").
struct KxIsdbtLayer {
    int32_t m_NumSegments = 0, m_Modulation = 0, m_CodeRate = 0, m_TimeIl = 0;
    template <typename F> void Fields(F& f)
    {
        f("nseg", m_NumSegments)("mod", m_Modulation)("cod", m_CodeRate)("til", m_TimeIl);
    }
    bool operator==(const KxIsdbtLayer&) const = default;
};

// 7: ISDB-T TMCC parameters ("isdbtpars").
struct KxIsdbtPars {
    int32_t m_SystemId = 0, m_Mode = 0, m_Guard = 0, m_PartialReception = 0, m_EmergencyAlarm = 0;
    std::vector<KxIsdbtLayer> m_Layers;
    template <typename F> void Fields(F& f)
    {
        f("sysid", m_SystemId)("mode", m_Mode)("gi", m_Guard)("partial", m_PartialReception)("ews", m_EmergencyAlarm);
        f.List("lyr", m_Layers);
    }
    bool operator==(const KxIsdbtPars&) const = default;
};

// 8: LDPC decoder statistics (not carried by the generic protocol).
struct KxLdpcStats {
    int64_t m_NumFrames = 0, m_NumFrameErrors = 0;
    int32_t m_AvgIterations = 0, m_MaxIterations = 0;
    bool operator==(const KxLdpcStats&) const = default;
};

// 9: DVB-T2 / C2 mode-adaptation (BB header) data ("t2c2madata").
struct KxT2C2MaData {
    int32_t m_PlpId = 0, m_StreamType = 0, m_SisMis = 0, m_CcmAcm = 0, m_Issyi = 0, m_Npd = 0, m_Ext = 0,
            m_Isi = 0, m_UpLengthBits = 0, m_DataFieldLengthBits = 0, m_Sync = 0, m_SyncDistBits = 0;
    template <typename F> void Fields(F& f)
    {
        f("plpid", m_PlpId)("tsgs", m_StreamType)("sismis", m_SisMis)("ccmacm", m_CcmAcm)("issyi", m_Issyi)(
            "npd", m_Npd)("ext", m_Ext)("isi", m_Isi)("upl", m_UpLengthBits)("dfl", m_DataFieldLengthBits)(
            "sync", m_Sync)("syncd", m_SyncDistBits);
    }
    bool operator==(const KxT2C2MaData&) const = default;
};

// 10: mode-adaptation statistics (not carried by the generic protocol).
struct KxMaStats {
    int64_t m_NumBbFrames = 0, m_NumCrcErrors = 0;
    bool operator==(const KxMaStats&) const = default;
};

// 11: FEC blocks of a PLP ("t2plpblocks").
struct KxPlpNumBlocks {
    int32_t m_PlpId = 0, m_NumBlocks = 0, m_NumBlocksMax = 0;
    template <typename F> void Fields(F& f)
    {
        f("plpid", m_PlpId)("nblk", m_NumBlocks)("nblkmax", m_NumBlocksMax);
    }
    bool operator==(const KxPlpNumBlocks&) const = default;
};

// 12: Viterbi decoder statistics.
struct KxVitStats {
    int32_t m_CodeRate = 0;
    int64_t m_NumBits = 0, m_NumBitErrors = 0;
    bool operator==(const KxVitStats&) const = default;
};

// 13: DAB ensemble information.
struct KxDabEnsemble {
    int32_t m_EnsembleId = 0, m_Ecc = 0, m_NumServices = 0, m_NumSubChannels = 0;
    bool operator==(const KxDabEnsemble&) const = default;
};

// 14: Reed-Solomon decoder statistics.
struct KxRsStats {
    int64_t m_NumPackets = 0, m_NumCorrected = 0, m_NumUncorrectable = 0;
    bool operator==(const KxRsStats&) const = default;
};

// 15: DVB-T TPS ("ttpsinfo").
struct KxDvbTTps {
    int32_t m_Constellation = 0, m_Hierarchy = 0, m_HpCodeRate = 0, m_LpCodeRate = 0, m_Guard = 0, m_Mode = 0,
            m_CellId = 0, m_LengthIndicator = 0, m_FrameNumber = 0, m_TimeSlicing = 0, m_MpeFec = 0;
    template <typename F> void Fields(F& f)
    {
        f("co", m_Constellation)("hier", m_Hierarchy)("hpcr", m_HpCodeRate)("lpcr", m_LpCodeRate)("gu", m_Guard)(
            "mode", m_Mode)("cellid", m_CellId)("len", m_LengthIndicator)("frm", m_FrameNumber)("ts", m_TimeSlicing)(
            "mpefec", m_MpeFec);
    }
    bool operator==(const KxDvbTTps&) const = default;
};

// 16: DAB transmitter identification.
struct KxDabTii {
    int32_t m_MainId = 0;
    std::vector<int32_t> m_SubIds;
    bool operator==(const KxDabTii&) const = default;
};

// One ATSC 3.0 PLP ("plp").
struct KxAtsc3Plp {
    int32_t m_Id = 0, m_Layer = 0, m_Start = 0, m_Size = 0, m_Scrambler = 0, m_FecType = 0, m_Modulation = 0,
            m_CodeRate = 0, m_TiMode = 0, m_SubframeIdx = 0;
    template <typename F> void Fields(F& f)
    {
        f("id", m_Id)("lyr", m_Layer)("start", m_Start)("size", m_Size)("scr", m_Scrambler)("fectype", m_FecType)(
            "mod", m_Modulation)("cod", m_CodeRate)("timode", m_TiMode)("sf", m_SubframeIdx);
    }
    bool operator==(const KxAtsc3Plp&) const = default;
};

// 17: ATSC 3.0 L1-Basic and L1-Detail ("atsc3l1").
struct KxAtsc3L1Data {
    int32_t m_Version = 0, m_MimoScatteredPilot = 0, m_LlsFlag = 0, m_TimeInfoFlag = 0, m_ReturnChannel = 0,
            m_Papr = 0, m_FrameLengthMode = 0, m_FrameLength = 0, m_NumSubframes = 0, m_PreambleNumSymbols = 0,
            m_PreambleReducedCarriers = 0, m_L1dContentTag = 0, m_L1dSizeBytes = 0, m_L1dFecType = 0,
            m_FftSize = 0, m_GuardInterval = 0, m_PilotPattern = 0, m_BootstrapMinorVersion = 0;
    std::vector<KxAtsc3Plp> m_Plps;
    template <typename F> void Fields(F& f)
    {
        f("ver", m_Version)("mimosp", m_MimoScatteredPilot)("lls", m_LlsFlag)("timeinfo", m_TimeInfoFlag)(
            "retch", m_ReturnChannel)("papr", m_Papr)("flmode", m_FrameLengthMode)("fl", m_FrameLength)(
            "nsf", m_NumSubframes)("prenumsym", m_PreambleNumSymbols)("prerc", m_PreambleReducedCarriers)(
            "l1dtag", m_L1dContentTag)("l1dsize", m_L1dSizeBytes)("l1dfec", m_L1dFecType)("fft", m_FftSize)(
            "gi", m_GuardInterval)("pp", m_PilotPattern)("bsminor", m_BootstrapMinorVersion);
        f.List("plp", m_Plps);
    }
    bool operator==(const KxAtsc3L1Data&) const = default;
};

// 18: DVB-T2 transmitter identification.
struct KxT2TxId {
    int32_t m_TxId = 0, m_LevelTenthsDb = 0, m_DelayNs = 0;
    bool operator==(const KxT2TxId&) const = default;
};

// 19: ATSC 3.0 transmitter identification.
struct KxAtsc3TxIdInfo {
    std::vector<int32_t> m_TxIds;
    bool operator==(const KxAtsc3TxIdInfo&) const = default;
};

// One input stream identifier of a DVB-S2 multistream ("isi").
struct KxS2IsiId {
    int32_t m_Isi = 0;
    template <typename F> void Fields(F& f) { f("id", m_Isi); }
    bool operator==(const KxS2IsiId&) const = default;
};

// 20: DVB-S2 input stream identifiers seen on the carrier ("s2Isi").
struct KxDvbS2IsiList {
    std::vector<KxS2IsiId> m_Isis;
    template <typename F> void Fields(F& f) { f.List("isi", m_Isis); }
    bool operator==(const KxDvbS2IsiList&) const = default;
};

// 21: signalling data of one DVB-S2 input stream ("s2isidata").
struct KxDvbS2IsiSigData {
    int32_t m_Isi = 0, m_MaType = 0, m_Pls = 0, m_ModType = 0, m_CodeRate = 0, m_FecFrame = 0, m_Pilots = 0,
            m_RollOffPct = 0, m_CcmAcm = 0, m_StreamType = 0;
    template <typename F> void Fields(F& f)
    {
        f("isi", m_Isi)("matype", m_MaType)("pls", m_Pls)("mod", m_ModType)("cr", m_CodeRate)("fec", m_FecFrame)(
            "plt", m_Pilots)("ro", m_RollOffPct)("ccmacm", m_CcmAcm)("tsgs", m_StreamType);
    }
    bool operator==(const KxDvbS2IsiSigData&) const = default;
};

} // namespace Kxapi
