"""A Modbus device played by pymodbus, for tests of Modbus masters.

    modbus_peer.py tcp PORT UNIT      serve Modbus TCP on 127.0.0.1:PORT (0: any free port)
    modbus_peer.py rtu DEVICE UNIT    serve Modbus RTU on a serial device (a pty)

The device has 100 coils, discrete inputs, input registers and holding
registers from address 0; anything beyond is an illegal data address. It
answers unit UNIT only. Once serving it prints "ready PORT" (TCP) or
"ready" (RTU). Then it takes commands on standard input, one a line, and
answers each with one line:
    get AREA ADDRESS         -> "value N"
    set AREA ADDRESS VALUE   -> "ok"
where AREA is co, di, ir or hr.
"""
import logging

logging.basicConfig(level=logging.CRITICAL)

import asyncio  # noqa: E402
import sys  # noqa: E402
import threading  # noqa: E402

from pymodbus.datastore import (  # noqa: E402
    ModbusSequentialDataBlock,
    ModbusServerContext,
    ModbusSlaveContext,
)
from pymodbus.server.async_io import ModbusSerialServer, ModbusTcpServer  # noqa: E402
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer  # noqa: E402

SIZE = 100
FUNCTION = {"co": 1, "di": 2, "hr": 3, "ir": 4}


def make_context(unit):
    def block(start):
        return ModbusSequentialDataBlock(0, [start + i for i in range(SIZE)])

    # zero_mode: request address 0 is the first value, as on the wire.
    slave = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, [i % 2 for i in range(SIZE)]),
        di=ModbusSequentialDataBlock(0, [(i // 2) % 2 for i in range(SIZE)]),
        ir=block(3000),
        hr=block(4000),
        zero_mode=True,
    )
    return ModbusServerContext(slaves={unit: slave}, single=False)


def serve_commands(context, unit):
    for line in sys.stdin:
        words = line.split()
        try:
            function = FUNCTION[words[1]]
            address = int(words[2])
            if words[0] == "get":
                value = context[unit].getValues(function, address, 1)[0]
                print(f"value {int(value)}", flush=True)
            elif words[0] == "set":
                context[unit].setValues(function, address, [int(words[3])])
                print("ok", flush=True)
            else:
                print("error unknown command", flush=True)
        except (IndexError, KeyError, ValueError) as exc:
            print(f"error {exc}", flush=True)


async def main():
    kind, where, unit = sys.argv[1], sys.argv[2], int(sys.argv[3])
    context = make_context(unit)
    if kind == "tcp":
        server = ModbusTcpServer(
            context,
            ModbusSocketFramer,
            address=("127.0.0.1", int(where)),
            allow_reuse_address=True,
        )
        task = asyncio.create_task(server.serve_forever())
        await server.serving
        port = server.server.sockets[0].getsockname()[1]
        print(f"ready {port}", flush=True)
    else:
        server = ModbusSerialServer(context, ModbusRtuFramer, port=where, baudrate=19200)
        await server.start()
        task = asyncio.create_task(server.serve_forever())
        print("ready", flush=True)
    commands = threading.Thread(target=serve_commands, args=(context, unit), daemon=True)
    commands.start()
    await task


if __name__ == "__main__":
    asyncio.run(main())
