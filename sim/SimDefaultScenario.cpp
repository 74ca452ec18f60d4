// The default scenario: one card of every receiver model (3460, 3470, 3480, 3490, 3510, 3520,
// 3530 sub-types 1, 2 and 3, 810, 820, 830 and 830A (sub-type 1), 850) with carriers of the
// standards each receives. Regenerate by editing the JSON below; the format is in README.md.
#include "SimScenario.h"

namespace {

const char DEFAULT_SCENARIO[] = R"KXSIM({
  "seed": 20261205,
  "cards": [
    {
      "model": 3460, "subType": 0, "serial": 3460000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 42}, {"name": "MOD_FREQ_MAX", "value": 870},
        {"name": "MOD_FREQ_ABSMIN", "value": 42}, {"name": "MOD_FREQ_ABSMAX", "value": 870}
      ],
      "tables": [], "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-3460"}],
      "i2c": [],
      "inputs": [
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          }
        ]
      ]
    },
    {
      "model": 3470, "subType": 0, "serial": 3470000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 950}, {"name": "MOD_FREQ_MAX", "value": 2150},
        {"name": "MOD_FREQ_ABSMIN", "value": 950}, {"name": "MOD_FREQ_ABSMAX", "value": 2150}
      ],
      "tables": [
        {"port": 0, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 0, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [950, 50], [1050, 53], [1150, 56], [1250, 59], [1350, 62], [1450, 65], [1550, 68], [1650, 71],
            [1750, 74], [1850, 77], [1950, 80], [2050, 83], [2150, 86]
          ]
        },
        {
          "port": 0, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [950, 120], [1050, 123], [1150, 126], [1250, 129], [1350, 132], [1450, 135], [1550, 138],
            [1650, 141], [1750, 144], [1850, 147], [1950, 150], [2050, 153], [2150, 156]
          ]
        },
        {"port": 1, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 1, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [950, 50], [1050, 53], [1150, 56], [1250, 59], [1350, 62], [1450, 65], [1550, 68], [1650, 71],
            [1750, 74], [1850, 77], [1950, 80], [2050, 83], [2150, 86]
          ]
        },
        {
          "port": 1, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [950, 120], [1050, 123], [1150, 126], [1250, 129], [1350, 132], [1450, 135], [1550, 138],
            [1650, 141], [1750, 144], [1850, 147], [1950, 150], [2050, 153], [2150, 156]
          ]
        }
      ],
      "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-3470"}], "i2c": [],
      "inputs": [
        [
          {
            "freqHz": 1150000000, "standard": "DVB-S2", "constellation": 8, "symbolRateBd": 27500000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 12.0, "modCod": 13
          },
          {
            "freqHz": 1400000000, "standard": "DVB-S2", "constellation": 4, "symbolRateBd": 30000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 9.0, "modCod": 7, "streams": [0, 3]
          },
          {
            "freqHz": 1750000000, "standard": "DVB-S2", "constellation": 16, "symbolRateBd": 45000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 16.5, "modCod": 20
          },
          {
            "freqHz": 2050000000, "standard": "DVB-S2", "constellation": 4, "symbolRateBd": 1000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 8.0, "modCod": 6
          }
        ],
        [
          {
            "freqHz": 1150000000, "standard": "DVB-S2", "constellation": 8, "symbolRateBd": 27500000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 12.0, "modCod": 13
          },
          {
            "freqHz": 1400000000, "standard": "DVB-S2", "constellation": 4, "symbolRateBd": 30000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 9.0, "modCod": 7, "streams": [0, 3]
          },
          {
            "freqHz": 1750000000, "standard": "DVB-S2", "constellation": 16, "symbolRateBd": 45000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 16.5, "modCod": 20
          },
          {
            "freqHz": 2050000000, "standard": "DVB-S2", "constellation": 4, "symbolRateBd": 1000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 8.0, "modCod": 6
          }
        ]
      ],
      "blocks": [
        {"name": "BC_I2CM_0", "type": 8, "uuid": 1001, "port": 0, "children": []},
        {"name": "BC_CDMAC_0", "type": 4, "uuid": 1002, "port": 0, "children": []},
        {"name": "BC_BURSTFIFO_0", "type": 32, "uuid": 1003, "port": 0, "children": []},
        {"name": "BC_IQPWR_0", "type": 347007, "uuid": 1004, "port": 0, "children": []},
        {"name": "DF_S2CRDEMOD_0", "type": 347007, "uuid": 1005, "port": 0, "children": []},
        {"name": "DF_S2STATS_0", "type": 347004, "uuid": 1006, "port": 0, "children": []},
        {"name": "DF_LNBH25_0", "type": 347003, "uuid": 1007, "port": 0, "children": []},
        {"name": "DF_AD5320_0", "type": 347001, "uuid": 1008, "port": 0, "children": []},
        {"name": "DF_ADS4246_0", "type": 347002, "uuid": 1009, "port": 0, "children": []},
        {"name": "DF_IQFIR_0", "type": 347005, "uuid": 1010, "port": 0, "children": []},
        {"name": "DF_IQCGRAB_0", "type": 347006, "uuid": 1011, "port": 0, "children": []},
        {"name": "DF_IQSRC3470_0", "type": 347010, "uuid": 1012, "port": 0, "children": []},
        {"name": "DF_DATASTMUX_0", "type": 347011, "uuid": 1013, "port": 0, "children": []},
        {"name": "BC_I2CM_1", "type": 8, "uuid": 1015, "port": 1, "children": []},
        {"name": "BC_CDMAC_1", "type": 4, "uuid": 1016, "port": 1, "children": []},
        {"name": "BC_BURSTFIFO_1", "type": 32, "uuid": 1017, "port": 1, "children": []},
        {"name": "BC_IQPWR_1", "type": 347007, "uuid": 1018, "port": 1, "children": []},
        {"name": "DF_S2CRDEMOD_1", "type": 347007, "uuid": 1019, "port": 1, "children": []},
        {"name": "DF_S2STATS_1", "type": 347004, "uuid": 1020, "port": 1, "children": []},
        {"name": "DF_LNBH25_1", "type": 347003, "uuid": 1021, "port": 1, "children": []},
        {"name": "DF_AD5320_1", "type": 347001, "uuid": 1022, "port": 1, "children": []},
        {"name": "DF_ADS4246_1", "type": 347002, "uuid": 1023, "port": 1, "children": []},
        {"name": "DF_IQFIR_1", "type": 347005, "uuid": 1024, "port": 1, "children": []},
        {"name": "DF_IQCGRAB_1", "type": 347006, "uuid": 1025, "port": 1, "children": []},
        {"name": "DF_IQSRC3470_1", "type": 347010, "uuid": 1026, "port": 1, "children": []},
        {"name": "DF_DATASTMUX_1", "type": 347011, "uuid": 1027, "port": 1, "children": []},
        {
          "name": "AF_DEMODCHANNEL_0", "type": 19, "uuid": 5001, "port": 0,
          "children": [
            "BC_I2CM_0", "BC_CDMAC_0", "BC_BURSTFIFO_0", "BC_IQPWR_0", "DF_S2CRDEMOD_0", "DF_S2STATS_0",
            "DF_LNBH25_0", "DF_AD5320_0", "DF_ADS4246_0", "DF_IQFIR_0", "DF_IQCGRAB_0", "DF_IQSRC3470_0",
            "DF_DATASTMUX_0"
          ]
        },
        {"name": "AF_I2CM_0", "type": 9, "uuid": 5002, "port": 0, "children": ["BC_I2CM_0"]},
        {"name": "AF_AD5320_0", "type": 20, "uuid": 5003, "port": 0, "children": ["DF_AD5320_0"]},
        {"name": "AF_ADS4246_0", "type": 21, "uuid": 5004, "port": 0, "children": ["DF_ADS4246_0"]},
        {"name": "AF_DATASTMUX_0", "type": 22, "uuid": 5005, "port": 0, "children": ["DF_DATASTMUX_0"]},
        {"name": "AF_IQCGRAB_0", "type": 23, "uuid": 5006, "port": 0, "children": ["DF_IQCGRAB_0"]},
        {"name": "AF_IQFIR_0", "type": 24, "uuid": 5007, "port": 0, "children": ["DF_IQFIR_0"]},
        {"name": "AF_IQPWR_0", "type": 25, "uuid": 5008, "port": 0, "children": ["BC_IQPWR_0"]},
        {"name": "AF_IQSRC3470_0", "type": 26, "uuid": 5009, "port": 0, "children": ["DF_IQSRC3470_0"]},
        {"name": "AF_LNBH25_0", "type": 27, "uuid": 5010, "port": 0, "children": ["DF_LNBH25_0"]},
        {"name": "AF_S2STATS_0", "type": 28, "uuid": 5011, "port": 0, "children": ["DF_S2STATS_0"]},
        {
          "name": "AF_AFS2CRDEMOD_0", "type": 29, "uuid": 5012, "port": 0,
          "children": ["DF_S2CRDEMOD_0", "BC_CDMAC_0", "BC_BURSTFIFO_0"]
        },
        {
          "name": "AF_DEMODCHANNEL_1", "type": 19, "uuid": 5013, "port": 1,
          "children": [
            "BC_I2CM_1", "BC_CDMAC_1", "BC_BURSTFIFO_1", "BC_IQPWR_1", "DF_S2CRDEMOD_1", "DF_S2STATS_1",
            "DF_LNBH25_1", "DF_AD5320_1", "DF_ADS4246_1", "DF_IQFIR_1", "DF_IQCGRAB_1", "DF_IQSRC3470_1",
            "DF_DATASTMUX_1"
          ]
        },
        {"name": "AF_I2CM_1", "type": 9, "uuid": 5014, "port": 1, "children": ["BC_I2CM_1"]},
        {"name": "AF_AD5320_1", "type": 20, "uuid": 5015, "port": 1, "children": ["DF_AD5320_1"]},
        {"name": "AF_ADS4246_1", "type": 21, "uuid": 5016, "port": 1, "children": ["DF_ADS4246_1"]},
        {"name": "AF_DATASTMUX_1", "type": 22, "uuid": 5017, "port": 1, "children": ["DF_DATASTMUX_1"]},
        {"name": "AF_IQCGRAB_1", "type": 23, "uuid": 5018, "port": 1, "children": ["DF_IQCGRAB_1"]},
        {"name": "AF_IQFIR_1", "type": 24, "uuid": 5019, "port": 1, "children": ["DF_IQFIR_1"]},
        {"name": "AF_IQPWR_1", "type": 25, "uuid": 5020, "port": 1, "children": ["BC_IQPWR_1"]},
        {"name": "AF_IQSRC3470_1", "type": 26, "uuid": 5021, "port": 1, "children": ["DF_IQSRC3470_1"]},
        {"name": "AF_LNBH25_1", "type": 27, "uuid": 5022, "port": 1, "children": ["DF_LNBH25_1"]},
        {"name": "AF_S2STATS_1", "type": 28, "uuid": 5023, "port": 1, "children": ["DF_S2STATS_1"]},
        {
          "name": "AF_AFS2CRDEMOD_1", "type": 29, "uuid": 5024, "port": 1,
          "children": ["DF_S2CRDEMOD_1", "BC_CDMAC_1", "BC_BURSTFIFO_1"]
        }
      ],
      "functions": [
        {
          "port": 0,
          "names": [
            "AF_DEMODCHANNEL_0", "AF_I2CM_0", "AF_AD5320_0", "AF_ADS4246_0", "AF_DATASTMUX_0",
            "AF_IQCGRAB_0", "AF_IQFIR_0", "AF_IQPWR_0", "AF_IQSRC3470_0", "AF_LNBH25_0", "AF_S2STATS_0",
            "AF_AFS2CRDEMOD_0"
          ]
        },
        {
          "port": 1,
          "names": [
            "AF_DEMODCHANNEL_1", "AF_I2CM_1", "AF_AD5320_1", "AF_ADS4246_1", "AF_DATASTMUX_1",
            "AF_IQCGRAB_1", "AF_IQFIR_1", "AF_IQPWR_1", "AF_IQSRC3470_1", "AF_LNBH25_1", "AF_S2STATS_1",
            "AF_AFS2CRDEMOD_1"
          ]
        }
      ],
      "driver": [1, 10, 2, 0]
    },
    {
      "model": 3480, "subType": 0, "serial": 3480000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 50}, {"name": "MOD_FREQ_MAX", "value": 860},
        {"name": "MOD_FREQ_ABSMIN", "value": 50}, {"name": "MOD_FREQ_ABSMAX", "value": 860}
      ],
      "tables": [], "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-3480"}],
      "i2c": [],
      "inputs": [
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          }
        ]
      ]
    },
    {
      "model": 3490, "subType": 0, "serial": 3490000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 54}, {"name": "MOD_FREQ_MAX", "value": 1002},
        {"name": "MOD_FREQ_ABSMIN", "value": 54}, {"name": "MOD_FREQ_ABSMAX", "value": 1002}
      ],
      "tables": [], "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-3490"}],
      "i2c": [],
      "inputs": [
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ]
      ]
    },
    {
      "model": 3510, "subType": 0, "serial": 3510000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 950}, {"name": "MOD_FREQ_MAX", "value": 2150},
        {"name": "MOD_FREQ_ABSMIN", "value": 950}, {"name": "MOD_FREQ_ABSMAX", "value": 2150}
      ],
      "tables": [], "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-3510"}],
      "i2c": [],
      "inputs": [
        [
          {
            "freqHz": 1150000000, "standard": "DVB-S2", "constellation": 8, "symbolRateBd": 27500000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 12.0, "modCod": 13
          },
          {
            "freqHz": 1400000000, "standard": "DVB-S2", "constellation": 4, "symbolRateBd": 30000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 9.0, "modCod": 7, "streams": [0, 3]
          },
          {
            "freqHz": 1750000000, "standard": "DVB-S2", "constellation": 16, "symbolRateBd": 45000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 16.5, "modCod": 20
          },
          {
            "freqHz": 2050000000, "standard": "DVB-S2", "constellation": 4, "symbolRateBd": 1000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 8.0, "modCod": 6
          }
        ],
        [
          {
            "freqHz": 1150000000, "standard": "DVB-S2", "constellation": 8, "symbolRateBd": 27500000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 12.0, "modCod": 13
          },
          {
            "freqHz": 1400000000, "standard": "DVB-S2", "constellation": 4, "symbolRateBd": 30000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 9.0, "modCod": 7, "streams": [0, 3]
          },
          {
            "freqHz": 1750000000, "standard": "DVB-S2", "constellation": 16, "symbolRateBd": 45000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 16.5, "modCod": 20
          },
          {
            "freqHz": 2050000000, "standard": "DVB-S2", "constellation": 4, "symbolRateBd": 1000000,
            "rollOffPercent": 20, "levelDbm": -35.0, "cnDb": 8.0, "modCod": 6
          }
        ]
      ]
    },
    {
      "model": 3520, "subType": 0, "serial": 3520000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 42}, {"name": "MOD_FREQ_MAX", "value": 1002},
        {"name": "MOD_FREQ_ABSMIN", "value": 42}, {"name": "MOD_FREQ_ABSMAX", "value": 1002}
      ],
      "tables": [
        {"port": 0, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 0, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 0, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        }
      ],
      "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-3520"}], "i2c": [],
      "inputs": [
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ]
      ]
    },
    {
      "model": 3530, "subType": 1, "serial": 3530000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 54}, {"name": "MOD_FREQ_MAX", "value": 1002},
        {"name": "MOD_FREQ_ABSMIN", "value": 54}, {"name": "MOD_FREQ_ABSMAX", "value": 1002}
      ],
      "tables": [
        {"port": 0, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 0, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 0, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 1, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 1, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 1, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 2, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 2, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 2, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 3, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 3, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 3, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 4, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 4, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 4, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 5, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 5, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 5, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 6, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 6, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 6, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 7, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 7, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 7, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 8, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 8, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 8, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 9, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 9, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 9, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 10, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 10, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 10, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        },
        {"port": 11, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 11, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [54, 50], [134, 53], [214, 56], [294, 59], [374, 62], [454, 65], [534, 68], [614, 71], [694, 74],
            [774, 77], [854, 80], [934, 83], [1014, 86]
          ]
        },
        {
          "port": 11, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [54, 120], [134, 123], [214, 126], [294, 129], [374, 132], [454, 135], [534, 138], [614, 141],
            [694, 144], [774, 147], [854, 150], [934, 153], [1014, 156]
          ]
        }
      ],
      "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-3530"}],
      "i2c": [{"bus": -1, "address": 144, "size": 256}],
      "inputs": [
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ],
        [
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM", "constellation": 64, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          },
          {
            "freqHz": 322000000, "standard": "QAM-B", "constellation": 256, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 35.0
          }
        ]
      ]
    },
    {
      "model": 3530, "subType": 2, "serial": 3530000002, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 42}, {"name": "MOD_FREQ_MAX", "value": 1002},
        {"name": "MOD_FREQ_ABSMIN", "value": 42}, {"name": "MOD_FREQ_ABSMAX", "value": 1002}
      ],
      "tables": [
        {"port": 0, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 0, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 0, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 1, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 1, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 1, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 2, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 2, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 2, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 3, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 3, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 3, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 4, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 4, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 4, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 5, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 5, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 5, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 6, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 6, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 6, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 7, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 7, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 7, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 8, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 8, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 8, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 9, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 9, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 9, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 10, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 10, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 10, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 11, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 11, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 11, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        }
      ],
      "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-3530"}], "i2c": [],
      "inputs": [
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ]
      ],
      "blocks": [
        {"name": "BC_I2CM_0", "type": 8, "uuid": 1001, "port": 0, "children": []},
        {"name": "BC_I2CM_1", "type": 8, "uuid": 1003, "port": 1, "children": []},
        {"name": "BC_I2CM_2", "type": 8, "uuid": 1005, "port": 2, "children": []},
        {"name": "BC_I2CM_3", "type": 8, "uuid": 1007, "port": 3, "children": []},
        {"name": "BC_I2CM_4", "type": 8, "uuid": 1009, "port": 4, "children": []},
        {"name": "BC_I2CM_5", "type": 8, "uuid": 1011, "port": 5, "children": []},
        {"name": "BC_I2CM_6", "type": 8, "uuid": 1013, "port": 6, "children": []},
        {"name": "BC_I2CM_7", "type": 8, "uuid": 1015, "port": 7, "children": []},
        {"name": "BC_I2CM_8", "type": 8, "uuid": 1017, "port": 8, "children": []},
        {"name": "BC_I2CM_9", "type": 8, "uuid": 1019, "port": 9, "children": []},
        {"name": "BC_I2CM_10", "type": 8, "uuid": 1021, "port": 10, "children": []},
        {"name": "BC_I2CM_11", "type": 8, "uuid": 1023, "port": 11, "children": []},
        {"name": "AF_DEMODCHANNEL_0", "type": 19, "uuid": 5001, "port": 0, "children": ["BC_I2CM_0"]},
        {"name": "AF_I2CM_0", "type": 9, "uuid": 5002, "port": 0, "children": ["BC_I2CM_0"]},
        {"name": "AF_DEMODCHANNEL_1", "type": 19, "uuid": 5003, "port": 1, "children": ["BC_I2CM_1"]},
        {"name": "AF_I2CM_1", "type": 9, "uuid": 5004, "port": 1, "children": ["BC_I2CM_1"]},
        {"name": "AF_DEMODCHANNEL_2", "type": 19, "uuid": 5005, "port": 2, "children": ["BC_I2CM_2"]},
        {"name": "AF_I2CM_2", "type": 9, "uuid": 5006, "port": 2, "children": ["BC_I2CM_2"]},
        {"name": "AF_DEMODCHANNEL_3", "type": 19, "uuid": 5007, "port": 3, "children": ["BC_I2CM_3"]},
        {"name": "AF_I2CM_3", "type": 9, "uuid": 5008, "port": 3, "children": ["BC_I2CM_3"]},
        {"name": "AF_DEMODCHANNEL_4", "type": 19, "uuid": 5009, "port": 4, "children": ["BC_I2CM_4"]},
        {"name": "AF_I2CM_4", "type": 9, "uuid": 5010, "port": 4, "children": ["BC_I2CM_4"]},
        {"name": "AF_DEMODCHANNEL_5", "type": 19, "uuid": 5011, "port": 5, "children": ["BC_I2CM_5"]},
        {"name": "AF_I2CM_5", "type": 9, "uuid": 5012, "port": 5, "children": ["BC_I2CM_5"]},
        {"name": "AF_DEMODCHANNEL_6", "type": 19, "uuid": 5013, "port": 6, "children": ["BC_I2CM_6"]},
        {"name": "AF_I2CM_6", "type": 9, "uuid": 5014, "port": 6, "children": ["BC_I2CM_6"]},
        {"name": "AF_DEMODCHANNEL_7", "type": 19, "uuid": 5015, "port": 7, "children": ["BC_I2CM_7"]},
        {"name": "AF_I2CM_7", "type": 9, "uuid": 5016, "port": 7, "children": ["BC_I2CM_7"]},
        {"name": "AF_DEMODCHANNEL_8", "type": 19, "uuid": 5017, "port": 8, "children": ["BC_I2CM_8"]},
        {"name": "AF_I2CM_8", "type": 9, "uuid": 5018, "port": 8, "children": ["BC_I2CM_8"]},
        {"name": "AF_DEMODCHANNEL_9", "type": 19, "uuid": 5019, "port": 9, "children": ["BC_I2CM_9"]},
        {"name": "AF_I2CM_9", "type": 9, "uuid": 5020, "port": 9, "children": ["BC_I2CM_9"]},
        {"name": "AF_DEMODCHANNEL_10", "type": 19, "uuid": 5021, "port": 10, "children": ["BC_I2CM_10"]},
        {"name": "AF_I2CM_10", "type": 9, "uuid": 5022, "port": 10, "children": ["BC_I2CM_10"]},
        {"name": "AF_DEMODCHANNEL_11", "type": 19, "uuid": 5023, "port": 11, "children": ["BC_I2CM_11"]},
        {"name": "AF_I2CM_11", "type": 9, "uuid": 5024, "port": 11, "children": ["BC_I2CM_11"]}
      ],
      "functions": [
        {"port": 0, "names": ["AF_DEMODCHANNEL_0", "AF_I2CM_0"]},
        {"port": 1, "names": ["AF_DEMODCHANNEL_1", "AF_I2CM_1"]},
        {"port": 2, "names": ["AF_DEMODCHANNEL_2", "AF_I2CM_2"]},
        {"port": 3, "names": ["AF_DEMODCHANNEL_3", "AF_I2CM_3"]},
        {"port": 4, "names": ["AF_DEMODCHANNEL_4", "AF_I2CM_4"]},
        {"port": 5, "names": ["AF_DEMODCHANNEL_5", "AF_I2CM_5"]},
        {"port": 6, "names": ["AF_DEMODCHANNEL_6", "AF_I2CM_6"]},
        {"port": 7, "names": ["AF_DEMODCHANNEL_7", "AF_I2CM_7"]},
        {"port": 8, "names": ["AF_DEMODCHANNEL_8", "AF_I2CM_8"]},
        {"port": 9, "names": ["AF_DEMODCHANNEL_9", "AF_I2CM_9"]},
        {"port": 10, "names": ["AF_DEMODCHANNEL_10", "AF_I2CM_10"]},
        {"port": 11, "names": ["AF_DEMODCHANNEL_11", "AF_I2CM_11"]}
      ],
      "driver": [1, 10, 2, 0]
    },
    {
      "model": 3530, "subType": 3, "serial": 3530000003, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 42}, {"name": "MOD_FREQ_MAX", "value": 1002},
        {"name": "MOD_FREQ_ABSMIN", "value": 42}, {"name": "MOD_FREQ_ABSMAX", "value": 1002}
      ],
      "tables": [
        {"port": 0, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 0, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 0, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 1, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 1, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 1, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 2, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 2, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 2, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 3, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 3, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 3, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 4, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 4, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 4, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 5, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 5, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 5, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 6, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 6, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 6, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 7, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 7, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 7, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 8, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 8, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 8, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 9, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 9, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 9, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 10, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 10, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 10, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        },
        {"port": 11, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300], [1, -600]]},
        {
          "port": 11, "name": "DEMOD_FREQ_COMP00",
          "entries": [
            [42, 50], [122, 53], [202, 56], [282, 59], [362, 62], [442, 65], [522, 68], [602, 71], [682, 74],
            [762, 77], [842, 80], [922, 83], [1002, 86]
          ]
        },
        {
          "port": 11, "name": "DEMOD_FREQ_COMP01",
          "entries": [
            [42, 120], [122, 123], [202, 126], [282, 129], [362, 132], [442, 135], [522, 138], [602, 141],
            [682, 144], [762, 147], [842, 150], [922, 153], [1002, 156]
          ]
        }
      ],
      "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-3530"}], "i2c": [],
      "inputs": [
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ],
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          },
          {
            "freqHz": 563000000, "standard": "ATSC3", "constellation": 256, "bandwidthHz": 5833000,
            "levelDbm": -50.0, "cnDb": 24.0, "streams": [0, 1]
          },
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          }
        ]
      ],
      "blocks": [
        {"name": "BC_I2CM_0", "type": 8, "uuid": 1001, "port": 0, "children": []},
        {"name": "BC_I2CM_1", "type": 8, "uuid": 1003, "port": 1, "children": []},
        {"name": "BC_I2CM_2", "type": 8, "uuid": 1005, "port": 2, "children": []},
        {"name": "BC_I2CM_3", "type": 8, "uuid": 1007, "port": 3, "children": []},
        {"name": "BC_I2CM_4", "type": 8, "uuid": 1009, "port": 4, "children": []},
        {"name": "BC_I2CM_5", "type": 8, "uuid": 1011, "port": 5, "children": []},
        {"name": "BC_I2CM_6", "type": 8, "uuid": 1013, "port": 6, "children": []},
        {"name": "BC_I2CM_7", "type": 8, "uuid": 1015, "port": 7, "children": []},
        {"name": "BC_I2CM_8", "type": 8, "uuid": 1017, "port": 8, "children": []},
        {"name": "BC_I2CM_9", "type": 8, "uuid": 1019, "port": 9, "children": []},
        {"name": "BC_I2CM_10", "type": 8, "uuid": 1021, "port": 10, "children": []},
        {"name": "BC_I2CM_11", "type": 8, "uuid": 1023, "port": 11, "children": []},
        {"name": "AF_DEMODCHANNEL_0", "type": 19, "uuid": 5001, "port": 0, "children": ["BC_I2CM_0"]},
        {"name": "AF_I2CM_0", "type": 9, "uuid": 5002, "port": 0, "children": ["BC_I2CM_0"]},
        {"name": "AF_DEMODCHANNEL_1", "type": 19, "uuid": 5003, "port": 1, "children": ["BC_I2CM_1"]},
        {"name": "AF_I2CM_1", "type": 9, "uuid": 5004, "port": 1, "children": ["BC_I2CM_1"]},
        {"name": "AF_DEMODCHANNEL_2", "type": 19, "uuid": 5005, "port": 2, "children": ["BC_I2CM_2"]},
        {"name": "AF_I2CM_2", "type": 9, "uuid": 5006, "port": 2, "children": ["BC_I2CM_2"]},
        {"name": "AF_DEMODCHANNEL_3", "type": 19, "uuid": 5007, "port": 3, "children": ["BC_I2CM_3"]},
        {"name": "AF_I2CM_3", "type": 9, "uuid": 5008, "port": 3, "children": ["BC_I2CM_3"]},
        {"name": "AF_DEMODCHANNEL_4", "type": 19, "uuid": 5009, "port": 4, "children": ["BC_I2CM_4"]},
        {"name": "AF_I2CM_4", "type": 9, "uuid": 5010, "port": 4, "children": ["BC_I2CM_4"]},
        {"name": "AF_DEMODCHANNEL_5", "type": 19, "uuid": 5011, "port": 5, "children": ["BC_I2CM_5"]},
        {"name": "AF_I2CM_5", "type": 9, "uuid": 5012, "port": 5, "children": ["BC_I2CM_5"]},
        {"name": "AF_DEMODCHANNEL_6", "type": 19, "uuid": 5013, "port": 6, "children": ["BC_I2CM_6"]},
        {"name": "AF_I2CM_6", "type": 9, "uuid": 5014, "port": 6, "children": ["BC_I2CM_6"]},
        {"name": "AF_DEMODCHANNEL_7", "type": 19, "uuid": 5015, "port": 7, "children": ["BC_I2CM_7"]},
        {"name": "AF_I2CM_7", "type": 9, "uuid": 5016, "port": 7, "children": ["BC_I2CM_7"]},
        {"name": "AF_DEMODCHANNEL_8", "type": 19, "uuid": 5017, "port": 8, "children": ["BC_I2CM_8"]},
        {"name": "AF_I2CM_8", "type": 9, "uuid": 5018, "port": 8, "children": ["BC_I2CM_8"]},
        {"name": "AF_DEMODCHANNEL_9", "type": 19, "uuid": 5019, "port": 9, "children": ["BC_I2CM_9"]},
        {"name": "AF_I2CM_9", "type": 9, "uuid": 5020, "port": 9, "children": ["BC_I2CM_9"]},
        {"name": "AF_DEMODCHANNEL_10", "type": 19, "uuid": 5021, "port": 10, "children": ["BC_I2CM_10"]},
        {"name": "AF_I2CM_10", "type": 9, "uuid": 5022, "port": 10, "children": ["BC_I2CM_10"]},
        {"name": "AF_DEMODCHANNEL_11", "type": 19, "uuid": 5023, "port": 11, "children": ["BC_I2CM_11"]},
        {"name": "AF_I2CM_11", "type": 9, "uuid": 5024, "port": 11, "children": ["BC_I2CM_11"]}
      ],
      "functions": [
        {"port": 0, "names": ["AF_DEMODCHANNEL_0", "AF_I2CM_0"]},
        {"port": 1, "names": ["AF_DEMODCHANNEL_1", "AF_I2CM_1"]},
        {"port": 2, "names": ["AF_DEMODCHANNEL_2", "AF_I2CM_2"]},
        {"port": 3, "names": ["AF_DEMODCHANNEL_3", "AF_I2CM_3"]},
        {"port": 4, "names": ["AF_DEMODCHANNEL_4", "AF_I2CM_4"]},
        {"port": 5, "names": ["AF_DEMODCHANNEL_5", "AF_I2CM_5"]},
        {"port": 6, "names": ["AF_DEMODCHANNEL_6", "AF_I2CM_6"]},
        {"port": 7, "names": ["AF_DEMODCHANNEL_7", "AF_I2CM_7"]},
        {"port": 8, "names": ["AF_DEMODCHANNEL_8", "AF_I2CM_8"]},
        {"port": 9, "names": ["AF_DEMODCHANNEL_9", "AF_I2CM_9"]},
        {"port": 10, "names": ["AF_DEMODCHANNEL_10", "AF_I2CM_10"]},
        {"port": 11, "names": ["AF_DEMODCHANNEL_11", "AF_I2CM_11"]}
      ],
      "driver": [1, 10, 2, 0]
    },
    {
      "model": 810, "subType": 0, "serial": 810000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 50}, {"name": "MOD_FREQ_MAX", "value": 865},
        {"name": "MOD_FREQ_ABSMIN", "value": 50}, {"name": "MOD_FREQ_ABSMAX", "value": 865}
      ],
      "tables": [], "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-810"}],
      "i2c": [
        {
          "bus": -1, "address": 160, "size": 256,
          "hex": "4b58000000000000000000000000000000000000000000000000000000000000"
        }
      ],
      "inputs": [
        [
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          }
        ]
      ]
    },
    {
      "model": 820, "subType": 0, "serial": 820000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 50}, {"name": "MOD_FREQ_MAX", "value": 860},
        {"name": "MOD_FREQ_ABSMIN", "value": 50}, {"name": "MOD_FREQ_ABSMAX", "value": 860}
      ],
      "tables": [], "vpd": [{"keyword": "EC", "text": "A1"}, {"keyword": "PN", "text": "KX-820"}],
      "i2c": [
        {
          "bus": -1, "address": 160, "size": 256,
          "hex": "4b58000000000000000000000000000000000000000000000000000000000000"
        }
      ],
      "inputs": [
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          }
        ]
      ]
    },
    {
      "model": 830, "subType": 0, "serial": 830000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 44}, {"name": "MOD_FREQ_MAX", "value": 1002},
        {"name": "MOD_FREQ_ABSMIN", "value": 44}, {"name": "MOD_FREQ_ABSMAX", "value": 1002}
      ],
      "tables": [],
      "vpd": [
        {"keyword": "EC", "text": "A1"},
        {"keyword": "RC", "hex": "0101000000000000000000000000000000000000000000000000000000000000"}
      ],
      "i2c": [
        {
          "bus": -1, "address": 160, "size": 256,
          "hex": "4b58000000000000000000000000000000000000000000000000000000000000"
        }
      ],
      "inputs": [
        [
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 314000000, "standard": "QAM-B", "constellation": 64, "symbolRateBd": 5056941,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 30.0
          }
        ]
      ]
    },
    {
      "model": 830, "subType": 1, "serial": 830000002, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 44}, {"name": "MOD_FREQ_MAX", "value": 1002},
        {"name": "MOD_FREQ_ABSMIN", "value": 44}, {"name": "MOD_FREQ_ABSMAX", "value": 1002}
      ],
      "tables": [],
      "vpd": [
        {"keyword": "EC", "text": "A"},
        {"keyword": "RC", "hex": "0101000000000000000000000000000000000000000000000000000000000000"}
      ],
      "i2c": [
        {
          "bus": -1, "address": 160, "size": 256,
          "hex": "4b58000000000000000000000000000000000000000000000000000000000000"
        }
      ],
      "inputs": [
        [
          {
            "freqHz": 473000000, "standard": "ATSC", "constellation": 8, "symbolRateBd": 10762238,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 22.0
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          }
        ]
      ]
    },
    {
      "model": 850, "subType": 0, "serial": 850000001, "firmware": 5, "firmwareStatus": "ok",
      "properties": [
        {"name": "MOD_FREQ_MIN", "value": 42}, {"name": "MOD_FREQ_MAX", "value": 1002},
        {"name": "MOD_FREQ_ABSMIN", "value": 42}, {"name": "MOD_FREQ_ABSMAX", "value": 1002}
      ],
      "tables": [],
      "vpd": [
        {"keyword": "EC", "text": "A1"},
        {"keyword": "RC", "hex": "0201000000000000000000000000000000000000000000000000000000000000"}
      ],
      "i2c": [
        {
          "bus": -1, "address": 160, "size": 256,
          "hex": "4b58000000000000000000000000000000000000000000000000000000000000"
        },
        {"bus": -1, "address": 16, "size": 64}
      ],
      "inputs": [
        [
          {
            "freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 26.0
          },
          {
            "freqHz": 522000000, "standard": "DVB-T2", "constellation": 256, "bandwidthHz": 7770000,
            "levelDbm": -50.0, "cnDb": 30.0, "streams": [0, 1]
          },
          {
            "freqHz": 618000000, "standard": "DVB-C2", "constellation": 1024, "bandwidthHz": 7610000,
            "levelDbm": -50.0, "cnDb": 33.0, "streams": [0]
          },
          {
            "freqHz": 306000000, "standard": "QAM", "constellation": 256, "symbolRateBd": 6900000,
            "rollOffPercent": 15, "levelDbm": -45.0, "cnDb": 34.0
          },
          {
            "freqHz": 557142857, "standard": "ISDB-T", "constellation": 64, "bandwidthHz": 5600000,
            "levelDbm": -50.0, "cnDb": 27.0
          }
        ]
      ]
    }
  ]
})KXSIM";

} // namespace

const char* SimDefaultScenarioText()
{
    return DEFAULT_SCENARIO;
}
