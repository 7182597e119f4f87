# The library's sources, folder by folder. Portable sources build on every
# system; each system adds the files of its own folder below platform/.
set(KELVARA_PORTABLE_SOURCES
  kelvara/framework/Archive.cpp
  kelvara/framework/Collections.cpp
  kelvara/framework/DateTime.cpp
  kelvara/framework/File.cpp
  kelvara/framework/Object.cpp
  kelvara/framework/Resource.cpp
  kelvara/framework/String.cpp
  kelvara/framework/Thread.cpp
  kelvara/framework/Ui.cpp
  kelvara/platform/FakeSerialDevice.cpp
  kelvara/platform/HandleTable.cpp
  kelvara/platform/LineSerialDevice.cpp
  kelvara/platform/SerialDevice.cpp
  kelvara/platform/VirtualArcnetSegment.cpp
  kelvara/sibling/FlowProperties.cpp
  kelvara/sibling/GeneralProperties.cpp
  kelvara/sibling/PollListItem.cpp
  kelvara/sibling/PollProperties.cpp
  kelvara/sibling/PortData.cpp
  kelvara/sibling/PortProperties.cpp
  kelvara/sibling/QZLog.cpp
  kelvara/sibling/QZMutex.cpp
  kelvara/sibling/QZObject.cpp
  kelvara/sibling/QZProperties.cpp
  kelvara/sibling/SystemUtility.cpp
  kelvara/sibling/TCPIPProperties.cpp
  kelvara/sibling/TimeoutOnlyProperties.cpp
  kelvara/sibling/TimingProperties.cpp
  kelvara/sibling/Utility.cpp
  kelvara/sibling/WinThreadPlus.cpp
  kelvara/resources/StringTable.cpp
  kelvara/protocol/CommsStats.cpp
  kelvara/protocol/DriverLibrary.cpp
  kelvara/protocol/ErrorCodes.cpp
  kelvara/protocol/NetworkProtocol.cpp
  kelvara/protocol/Protocol.cpp
  kelvara/protocol/SerialProtocol.cpp
  kelvara/block/ComBlock.cpp
  kelvara/buffer/Combuf.cpp
  kelvara/buffer/DataConversion.cpp
  kelvara/transport/ComObject.cpp
  kelvara/transport/serial/ComPort.cpp
  kelvara/transport/tcpip/SlaveListenThread.cpp
  kelvara/transport/tcpip/TCPIPPort.cpp
  kelvara/transport/arcnet/NetPort.cpp
  kelvara/transport/arcnet/PollThread.cpp
  kelvara/transport/arcnet/ReceiveThread.cpp
  kelvara/addressing/AddressEncoding.cpp
  kelvara/addressing/EDFField.cpp
  kelvara/addressing/EDFFieldMap.cpp
  kelvara/addressing/EDFFormat.cpp
  kelvara/addressing/EDFParser.cpp
  kelvara/addressing/EDFRange.cpp
  kelvara/addressing/RemoteAddress.cpp
  kelvara/location/Int128.cpp
  kelvara/location/LocationCarry.cpp
  kelvara/location/LocationCarryClosedForm.cpp
  kelvara/location/LocationCarryGeneral.cpp
  kelvara/location/QZLocation.cpp
  kelvara/location/QZLocationArithmetic.cpp
  kelvara/netmsg/QZNetMsg.cpp
  kelvara/replay/Recording.cpp
  kelvara/replay/ReplayDevice.cpp
  kelvara/replay/ReplayServer.cpp)

set(KELVARA_POSIX_SOURCES
  kelvara/platform/posix/ClockPosix.cpp
  kelvara/platform/posix/ConsolePosix.cpp
  kelvara/platform/posix/DynamicLibraryPosix.cpp
  kelvara/platform/posix/NamedMutexPosix.cpp
  kelvara/platform/posix/PseudoTerminalPosix.cpp
  kelvara/platform/posix/SerialDevicePosix.cpp
  kelvara/platform/posix/SocketPosix.cpp
  kelvara/platform/posix/SystemErrorPosix.cpp)

# The public headers: every header of the portable folders (the per-system
# folders hold none).
set(KELVARA_HEADER_FOLDERS
  kelvara/framework
  kelvara/platform
  kelvara/sibling
  kelvara/resources
  kelvara/protocol
  kelvara/block
  kelvara/buffer
  kelvara/transport
  kelvara/transport/serial
  kelvara/transport/tcpip
  kelvara/transport/arcnet
  kelvara/addressing
  kelvara/location
  kelvara/netmsg
  kelvara/replay)
set(KELVARA_HEADERS ${PROJECT_SOURCE_DIR}/kelvara/Kelvara.h)
foreach(_folder IN LISTS KELVARA_HEADER_FOLDERS)
  file(GLOB _headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${_folder}/*.h)
  list(APPEND KELVARA_HEADERS ${_headers})
endforeach()

# Headers the library's sources share among themselves: not installed.
set(KELVARA_PRIVATE_HEADERS
  kelvara/location/Int128.h
  kelvara/location/LocationCarryEngines.h)
