"""python-can's slcan interface against tarvenix-slcan, for the bridge tests.

Usage: slcan_client.py PORT COUNT
Opens the bus, asks for the version (answered only once the channel is open),
prints "open", prints the first COUNT received frames one per
line ("id ext remote dlc hexdata"), sends four frames, changes the bit rate to
1 Mbit/s (close, S8, open), prints "done" and shuts the bus down.
"""
import sys

import can

port, count = sys.argv[1], int(sys.argv[2])
bus = can.Bus(interface="slcan", channel=port, sleep_after_open=0)
print("open" if bus.get_version(10) == (10, 9) else "no version", flush=True)
for _ in range(count):
    msg = bus.recv(10)
    if msg is None:
        print("timeout", flush=True)
        break
    print("%X %d %d %d %s" % (msg.arbitration_id, msg.is_extended_id, msg.is_remote_frame, msg.dlc,
                              bytes(msg.data).hex().upper() or "-"), flush=True)
bus.send(can.Message(arbitration_id=0x7FF, data=[0x11, 0x22], is_extended_id=False))
bus.send(can.Message(arbitration_id=0x1ABCDEF0, data=range(8), is_extended_id=True))
bus.send(can.Message(arbitration_id=0x010, is_remote_frame=True, dlc=3, is_extended_id=False))
bus.send(can.Message(arbitration_id=0x00000042, is_remote_frame=True, dlc=0, is_extended_id=True))
bus.set_bitrate(1000000)
print("done", flush=True)
bus.shutdown()
