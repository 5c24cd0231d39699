#!/usr/bin/env python3
# The far end of the cable for the Windows test program: a pseudo-terminal mapped to a COM port of
# the Wine prefix, served on the master side. Usage: peer.py WINE PROGRAM [ARGUMENT ...]
# The program asks on its standard output ("@request"), the peer answers on its standard input;
# every other line of the program is passed through.
import os, pty, select, subprocess, sys, termios, time, tty

PORT = 'COM7'
wine, program, arguments = sys.argv[1], sys.argv[2], sys.argv[3:]
wineserver = os.path.join(os.path.dirname(wine), 'wineserver')

master, slave = pty.openpty()
tty.setraw(master)
# Wine's mount manager creates the device and its SERIALCOMM entry from this key when it starts.
subprocess.run([wine, 'reg', 'add', r'HKLM\Software\Wine\Ports', '/v', PORT, '/d',
                os.ttyname(slave), '/f'], check=True, stdout=subprocess.DEVNULL,
               stderr=subprocess.DEVNULL, timeout=120)
subprocess.run([wineserver, '-k'], stderr=subprocess.DEVNULL)


def receive(size, timeout_ms):
    data, deadline = b'', time.monotonic() + timeout_ms / 1000
    while len(data) < size:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([master], [], [], left)[0]:
            break
        data += os.read(master, size - len(data))
    return data


def attributes():
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(master)
    speeds = {getattr(termios, name): name[1:] for name in dir(termios)
              if name[0] == 'B' and name[1:].isdigit()}
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    parity = 'none'
    if cflag & termios.PARENB:
        parity = {(0, 0): 'even', (1, 0): 'odd', (0, 1): 'space', (1, 1): 'mark'}[
            (bool(cflag & termios.PARODD), bool(cflag & termios.CMSPAR))]
    raw = not (lflag & (termios.ICANON | termios.ECHO | termios.ISIG) or oflag & termios.OPOST
               or iflag & termios.ICRNL)
    return (f'{speeds.get(ospeed, "?")}/{speeds.get(ispeed, "?")} {bits} {parity} '
            f'{2 if cflag & termios.CSTOPB else 1} crtscts={int(bool(cflag & termios.CRTSCTS))} '
            f'ixon={int(bool(iflag & termios.IXON))} ixoff={int(bool(iflag & termios.IXOFF))} '
            f'raw={int(raw)}')


def set_line(cooked, ixoff):
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(master)
    if cooked:
        iflag |= termios.ICRNL | termios.IXON
        oflag |= termios.OPOST | termios.ONLCR
        lflag |= termios.ICANON | termios.ECHO | termios.ISIG | termios.IEXTEN
    iflag = iflag | termios.IXOFF if ixoff else iflag & ~termios.IXOFF
    termios.tcsetattr(master, termios.TCSANOW, [iflag, oflag, cflag, lflag, ispeed, ospeed, cc])


def answer(words):
    command = words[0]
    if command == 'send':          # send HEX [PAUSE_MS HEX]: the second part after a pause
        os.write(master, bytes.fromhex(words[1]))
        if len(words) > 2:
            time.sleep(int(words[2]) / 1000)
            os.write(master, bytes.fromhex(words[3]))
        return 'ok'
    if command == 'recv':          # recv SIZE TIMEOUT_MS
        return receive(int(words[1]), int(words[2])).hex() or '-'
    if command == 'drain':         # everything waiting, as a count
        return str(len(receive(1 << 30, 300)))
    if command == 'attrs':
        return attributes()
    if command == 'line':          # line cooked|raw ixoff|noixoff
        set_line(words[1] == 'cooked', words[2] == 'ixoff')
        return 'ok'
    return 'unknown request'


env = dict(os.environ, WINEDEBUG='-all')
# The wine server started for the program inherits its error output and dumps its objects there
# when it is stopped: that goes to a log of its own.
with open('wine.log', 'w') as log:
    child = subprocess.Popen([wine, program] + arguments, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=log, env=env, text=True, bufsize=1)
for line in child.stdout:
    if line.startswith('@'):
        child.stdin.write(answer(line[1:].split()) + '\n')
        child.stdin.flush()
    else:
        sys.stdout.write(line)
        sys.stdout.flush()
sys.exit(child.wait())
