"""Prints the air temperatures (012101) of every message of BUFR files,
decoding the messages in a pool of worker processes."""

import concurrent.futures
import sys

import quorvel


def air_temperatures(message: quorvel.Message) -> tuple[int, list[float | None]]:
    # Runs in a worker. The message came over as its octets; the tables its
    # header names (under $ECCODES_DEFINITION_PATH, else
    # /usr/share/eccodes/definitions) are loaded once per worker and kept in
    # that worker's cache.
    decoded = message.decode()
    return message.index, [value.raw_value for value in decoded.values
                           if value.descriptor == 12101]


def main(paths: list[str]) -> None:
    with concurrent.futures.ProcessPoolExecutor() as pool:
        for path in paths:
            messages = quorvel.read_messages(path)
            for index, kelvins in pool.map(air_temperatures, messages, chunksize=64):
                print(f"{path} message {index}: {kelvins}")


if __name__ == "__main__":
    main(sys.argv[1:])
