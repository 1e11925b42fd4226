# The list file format: writer, reader and the text forms they share.
target_sources(corvantis_core PRIVATE
    DataPacket.cpp DataPacket.h
    PacketFieldStarts.h
    PacketReader.cpp PacketReader.h
    PacketReaderRows.cpp
    PacketScanner.h
    DataPacketWriter.cpp
    HelperThread.cpp HelperThread.h
    InputFile.cpp InputFile.h
    PacketEncoding.cpp PacketEncoding.h
    PacketValues.cpp PacketValues.h
    PacketWriter.h
    SaveFile.cpp SaveFile.h
)
