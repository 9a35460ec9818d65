#!/usr/bin/env python3
"""Writes the demo meter table and channel names into a Sys.ini (GBK, CRLF).

The simulator adds its [Serial Ports] section to the same file afterwards.
Usage: demo-setup.py SYS_INI
"""
import sys

# slot: (address, COM, mode 0 active / 1 query, title, unit, range max, decimals)
METERS = [
    (12, 1, 0, "温度", "℃", 100, 1),
    (1, 2, 1, "压力", "kPa", 50, 2),
    (3, 2, 1, "流量", "L/min", 20, 2),
]

lines = ["[System Options]", "FirstRun=0", "Reg=1", "XYChannelShow=1",
         "SampleInterval=500", "SampleIntervalUnit=0",
         "TimeWindow=2", "TimeWindowUnit=2", "SYS_MAX_METER_NO=5",
         "", "[Meter Configure]",
         f"MeterAmount={len(METERS)}", "MeterComCount=2"]
ports = [1, 2]
for i in range(21):
    lines.append(f"MeterComPort{i + 1}={ports[i] if i < len(ports) else 1}")
    lines.append(f"MeterComPortState{i + 1}={[0, 1][i] if i < len(ports) else -1}")
for slot in range(10):
    lines += ["", f"[Meter Configure{slot + 1}]"]
    if slot < len(METERS):
        addr, com, mode, *_ = METERS[slot]
        lines += [f"MeterNo={addr}", "MeterType=", f"MeterCom={com}", f"MeterState={mode}",
                  "MeterValid=1", "MeterPrecision=10"]
    else:
        lines += [f"MeterNo={slot}", "MeterType=", "MeterCom=1", "MeterState=1",
                  "MeterValid=0", "MeterPrecision=10"]
for slot, (_, _, _, title, unit, top, decimals) in enumerate(METERS):
    lines += ["", f"[Channel{slot + 1}]", f"Title={title}", f"MainTitle={title}（通道{slot + 1}）",
              f"MeasureUnit={unit}", "RangeMin=0", f"RangeMax={top}",
              f"PrecisionArray={decimals}"]
with open(sys.argv[1], "wb") as f:
    f.write(("\r\n".join(lines) + "\r\n").encode("gbk"))
