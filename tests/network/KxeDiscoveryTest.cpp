// Discovery: the ProbeMatches parser, merging across interfaces, and real probes against
// simulated devices in private network namespaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KxeNetns.h"
#include "TestSupport.h"
#include "XpNetworkLinux.h"
#include "stdsoap2.h"
#include "XpUtil.h"
#include "network/KxeEnum.h"

namespace {

using kxtest::NetnsLab;
using kxtest::NetnsPairTest;

// A ProbeMatches envelope as the devices send it; `extension` replaces the extension element.
std::string ProbeMatches(const std::string& xaddrs, const std::string& extension)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" xmlns:k=\"urn:korvix:kxapi:2010\">"
           "<e:Header><a:MessageID>urn:uuid:1</a:MessageID><a:RelatesTo>x</a:RelatesTo></e:Header>"
           "<e:Body><d:ProbeMatches><d:ProbeMatch><a:EndpointReference><a:Address>urn:uuid:1</a:Address>"
           "</a:EndpointReference><d:Types>k:KXE</d:Types><d:XAddrs>" +
           xaddrs + "</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion>" + extension +
           "</d:ProbeMatch></d:ProbeMatches></e:Body></e:Envelope>";
}

const std::string EXTENSION =
    "<k:DeviceInfoShort><k:Serial>5910123456</k:Serial><k:TypeNumber>5910</k:TypeNumber>"
    "<k:FirmwareVersion>7</k:FirmwareVersion><k:FirmwareVariant>2</k:FirmwareVariant><k:Ip>99</k:Ip>"
    "<k:Mac>88050933805579</k:Mac><k:OpMode>4</k:OpMode><k:Port>1234</k:Port></k:DeviceInfoShort>";

KxeListEntry Entry(int64_t serial, uint8_t ipLast, uint8_t macLast)
{
    KxeListEntry entry = {};
    entry.m_Serial = serial;
    entry.m_IpAddr[0] = 10;
    entry.m_IpAddr[3] = ipLast;
    entry.m_MacAddr[5] = macLast;
    return entry;
}

TEST(KxeProbeMatchParser, FillsTheEntryFromXAddrsAndTheExtensionOnly)
{
    const std::string text = ProbeMatches("http://192.168.4.21:8080", EXTENSION);
    KxeListEntry entry;
    memset(&entry, 0xA5, sizeof(entry));
    ASSERT_EQ(SOAP_OK, KxeParseProbeMatch(text.data(), text.size(), entry));
    EXPECT_EQ(5910123456, entry.m_Serial);
    EXPECT_EQ(5910, entry.m_TypeNumber);
    EXPECT_EQ(7, entry.m_FirmwareVersion);
    EXPECT_EQ(2, entry.m_FirmwareVariant);
    const uint8_t ip[4] = {192, 168, 4, 21};
    EXPECT_EQ(0, memcmp(ip, entry.m_IpAddr, 4)) << "the address comes from XAddrs, not from <Ip>";
    EXPECT_EQ(8080, entry.m_Port) << "the port comes from XAddrs, not from <Port>";
    // 88050933805579 = 0x5014F4A1B20B: most significant byte first.
    const uint8_t mac[6] = {0x50, 0x14, 0xF4, 0xA1, 0xB2, 0x0B};
    EXPECT_EQ(0, memcmp(mac, entry.m_MacAddr, 6));
    EXPECT_EQ(4, entry.m_OpMode);
    EXPECT_EQ(0, entry.m_Reserved[0]);
    EXPECT_EQ(0, entry.m_Reserved[1]);
}

TEST(KxeProbeMatchParser, XAddrsOtherThanHttpGiveAddressZeroButKeepTheDevice)
{
    const std::string text = ProbeMatches("https://192.168.4.21:8080/", EXTENSION);
    KxeListEntry entry;
    ASSERT_EQ(SOAP_OK, KxeParseProbeMatch(text.data(), text.size(), entry));
    const uint8_t zero[4] = {};
    EXPECT_EQ(0, memcmp(zero, entry.m_IpAddr, 4));
    EXPECT_EQ(0, entry.m_Port);
    EXPECT_EQ(5910123456, entry.m_Serial);
    EXPECT_EQ(5910, entry.m_TypeNumber);

    KxeListEntry partial = {};
    KxeParseXAddrs("http://10.1", partial);
    EXPECT_EQ(10, partial.m_IpAddr[0]);
    EXPECT_EQ(1, partial.m_IpAddr[1]);
    EXPECT_EQ(0, partial.m_IpAddr[2]);
    EXPECT_EQ(0, partial.m_Port);
}

TEST(KxeProbeMatchParser, AMatchWithoutTheExtensionIsAnEntryWithoutIdentity)
{
    const std::string text = ProbeMatches("http://10.0.0.9:80", "");
    KxeListEntry entry;
    ASSERT_EQ(SOAP_OK, KxeParseProbeMatch(text.data(), text.size(), entry));
    EXPECT_EQ(0, entry.m_Serial);
    EXPECT_EQ(9, entry.m_IpAddr[3]);
}

TEST(KxeProbeMatchParser, RejectsGarbageTruncatedAndEmptyMessages)
{
    const std::string good = ProbeMatches("http://10.0.0.9:80", EXTENSION);
    const std::vector<std::string> bad = {
        "",
        "garbage \x01\x02 <<<",
        good.substr(0, good.size() / 2),
        "<?xml version=\"1.0\"?><e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body>"
        "</e:Body></e:Envelope>",
    };
    for (const std::string& text : bad) {
        KxeListEntry entry;
        EXPECT_NE(SOAP_OK, KxeParseProbeMatch(text.data(), text.size(), entry)) << text;
    }
}

TEST(KxeMerge, DropsDevicesSeenOnAnEarlierInterfaceAndStopsAtTheCapacity)
{
    std::vector<KxeListEntry> merged(3);
    int count = 0;
    const KxeListEntry first[] = {Entry(1, 1, 1), Entry(2, 2, 2)};
    // Same device (same IP and MAC) answering on the second interface with other data.
    const KxeListEntry second[] = {Entry(99, 1, 1), Entry(3, 3, 3), Entry(4, 4, 4)};
    KxeMergeEntries(merged.data(), count, 3, first, 2);
    KxeMergeEntries(merged.data(), count, 3, second, 3);
    ASSERT_EQ(3, count);
    EXPECT_EQ(1, merged[0].m_Serial) << "the first interface's answer is kept";
    EXPECT_EQ(2, merged[1].m_Serial);
    EXPECT_EQ(3, merged[2].m_Serial);
    EXPECT_FALSE(KxeIsEqual(Entry(1, 1, 1), Entry(1, 1, 2)));
    EXPECT_TRUE(KxeIsEqual(Entry(1, 1, 1), Entry(7, 1, 1)));
}

TEST(KxeMessageId, FollowsTheFormatAndCountsUp)
{
    KxeEnumerator enumerator;
    char first[64];
    char second[64];
    enumerator.GenerateMessageId(first, sizeof(first));
    enumerator.GenerateMessageId(second, sizeof(second));
    unsigned int seconds = 0, low = 0, high = 0;
    ASSERT_EQ(3, sscanf(first, "%8x-%4x-%4x", &seconds, &low, &high)) << first;
    EXPECT_EQ(8u + 1 + 4 + 1 + 4 + 2, strlen(first)) << first;
    EXPECT_STREQ("00", first + strlen(first) - 2);
    EXPECT_STREQ("01", second + strlen(second) - 2);
}

TEST(XpNetwork, ListsOnlyMulticastInterfacesOncePerAddress)
{
    XpNetworkLinux network;
    std::vector<in_addr> addresses;
    ASSERT_EQ(KXAPI_OK, network.ListMulticastIpv4(addresses));
    for (size_t i = 0; i < addresses.size(); ++i) {
        EXPECT_NE(htonl(INADDR_LOOPBACK), addresses[i].s_addr) << "loopback cannot send multicast";
        for (size_t k = i + 1; k < addresses.size(); ++k)
            EXPECT_NE(addresses[i].s_addr, addresses[k].s_addr);
    }
}

// Discovery against simulated devices: runs the enumerator on a thread that has entered
// the service's namespace.
class KxeDiscoveryNetns : public NetnsPairTest<66> {
protected:
    pid_t StartDevice(const std::string& ns, const std::vector<std::string>& extra, const std::string& log,
                      const std::vector<std::string>& ifs)
    {
        std::vector<std::string> argv = {kxtest::NetDevBinary(), "--log", log, "--http-port", "0"};
        for (const std::string& address : ifs) {
            argv.push_back("--if");
            argv.push_back(address);
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        pid_t pid = m_Lab.Spawn(ns, argv, log + ".out");
        if (pid > 0)
            m_Devices.push_back(pid);
        EXPECT_TRUE(kxtest::WaitUntil([&] { return kxtest::CountLines(kxtest::ReadFileText(log), "READY") >= 1; },
                                      5000))
            << kxtest::ReadFileText(log);
        return pid;
    }

    // One enumeration from inside the service namespace.
    std::vector<KxeListEntry> Enumerate(bool& ok, int capacity = KXE_LIST_CAPACITY)
    {
        std::vector<KxeListEntry> entries(static_cast<size_t>(capacity));
        int count = capacity;
        std::thread probe([&] {
            if (!NetnsLab::EnterOnThisThread(m_Svc)) {
                ok = false;
                count = 0;
                return;
            }
            KxeEnumerator enumerator;
            ok = enumerator.EnumerateDevices(entries.data(), count);
        });
        probe.join();
        entries.resize(static_cast<size_t>(count));
        return entries;
    }

    // Every simulated device must end cleanly (its sanitizer findings fail the exit status).
    void TearDown() override
    {
        for (pid_t device : m_Devices) {
            kxtest::ProcessResult result = m_Lab.Kill(device, SIGTERM, 10000);
            EXPECT_TRUE(result.m_Exited && result.m_Status == 0)
                << "simulated device status " << result.m_Status << " signal " << result.m_Signal;
        }
    }

    kxtest::TempDir m_Dir;
    std::vector<pid_t> m_Devices;
};

TEST_F(KxeDiscoveryNetns, FindsEveryDeviceAndSkipsMisbehavingAnswers)
{
    StartDevice(m_Dev, {"--advertise", "10.66.0.2", "--serial", "1001", "--mac", "14F4000001", "--count", "3"},
                m_Dir.File("good.log"), {"10.66.0.2"});
    for (const char* mode : {"garbage", "truncated"}) {
        StartDevice(m_Dev, {"--advertise", "10.66.0.2", "--serial", "2001", "--mac", "14F4000100", "--reply", mode},
                    m_Dir.File(std::string(mode) + ".log"), {"10.66.0.2"});
    }
    StartDevice(m_Dev, {"--advertise", "10.66.0.2", "--serial", "3001", "--mac", "14F4000200", "--reply", "noext"},
                m_Dir.File("noext.log"), {"10.66.0.2"});
    bool ok = false;
    std::vector<KxeListEntry> found = Enumerate(ok);
    ASSERT_TRUE(ok);
    // Three devices plus the match without extension (serial 0, MAC 0); garbage and
    // truncated answers are skipped without losing the answers after them.
    std::vector<int64_t> serials;
    for (const KxeListEntry& entry : found)
        serials.push_back(entry.m_Serial);
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ((std::vector<int64_t>{0, 1001, 1002, 1003}), serials)
        << kxtest::ReadFileText(m_Dir.File("good.log")) << kxtest::ReadFileText(m_Dir.File("garbage.log"))
        << kxtest::ReadFileText(m_Dir.File("noext.log"));
    for (const KxeListEntry& entry : found) {
        if (entry.m_Serial == 1001) {
            const uint8_t ip[4] = {10, 66, 0, 2};
            EXPECT_EQ(0, memcmp(ip, entry.m_IpAddr, 4));
            EXPECT_EQ(0, entry.m_Port) << "--http-port 0 is advertised as port 0";
            EXPECT_EQ(5910, entry.m_TypeNumber);
            EXPECT_EQ(0x01, entry.m_MacAddr[5]);
            EXPECT_EQ(0x14, entry.m_MacAddr[1]);
        }
    }
}

TEST_F(KxeDiscoveryNetns, ADeviceOnTwoInterfacesIsListedOnce)
{
    ASSERT_TRUE(m_Lab.Link(m_Svc, m_Dev, 67));
    const std::string log = m_Dir.File("dev.log");
    StartDevice(m_Dev, {"--advertise", "10.66.0.2", "--serial", "4242"}, log, {"10.66.0.2", "10.67.0.2"});
    bool ok = false;
    std::vector<KxeListEntry> found = Enumerate(ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(4242, found[0].m_Serial);
    EXPECT_EQ(2, kxtest::CountLines(kxtest::ReadFileText(log), "PROBE")) << "one probe left through each interface";
}

TEST_F(KxeDiscoveryNetns, NoDeviceGivesAnEmptyListAfterTheTimeOut)
{
    bool ok = false;
    std::vector<KxeListEntry> found = Enumerate(ok);
    EXPECT_TRUE(ok) << "an answer loop that ends by time-out is a successful probe";
    EXPECT_TRUE(found.empty());
}

TEST_F(KxeDiscoveryNetns, SurplusAnswersBeyondTheCapacityAreDropped)
{
    StartDevice(m_Dev, {"--advertise", "10.66.0.2", "--serial", "100000", "--count", "600"}, m_Dir.File("many.log"),
                {"10.66.0.2"});
    bool ok = false;
    std::vector<KxeListEntry> found = Enumerate(ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(static_cast<size_t>(KXE_LIST_CAPACITY), found.size());
}

} // namespace
