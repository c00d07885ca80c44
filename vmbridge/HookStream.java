// An output stream that hands every byte written to it to the native side of the
// library that defined it, which passes them on to the host's output hook.
package tessaly.vmbridge;

import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.charset.Charset;

public final class HookStream extends OutputStream {
    private final int stream;  // 1: System.out, 2: System.err

    private HookStream(int stream) {
        this.stream = stream;
    }

    private static native void write0(int stream, byte[] bytes, int offset, int length);

    @Override
    public void write(int b) {
        write0(stream, new byte[] {(byte) b}, 0, 1);
    }

    @Override
    public void write(byte[] bytes, int offset, int length) {
        if (offset < 0 || length < 0 || offset > bytes.length - length) {
            throw new IndexOutOfBoundsException();
        }
        write0(stream, bytes, offset, length);
    }

    // The first of the comma-separated names that this VM supports; else its default.
    private static String pickCharset(String names) {
        for (String name : names.split(",")) {
            try {
                if (!name.isEmpty() && Charset.isSupported(name)) {
                    return Charset.forName(name).name();
                }
            } catch (IllegalArgumentException e) {
                // not a name this VM knows: try the next
            }
        }
        return Charset.defaultCharset().name();
    }

    public static void install(boolean out, boolean err, String names) throws Exception {
        String charset = pickCharset(names);
        if (out) {
            System.setOut(new PrintStream(new HookStream(1), true, charset));
        }
        if (err) {
            System.setErr(new PrintStream(new HookStream(2), true, charset));
        }
    }
}
