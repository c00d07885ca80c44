// Loads and initializes each class named on the command line from the class path,
// which links and verifies it: a stamped class that a current VM refuses fails here.
public class LoadCheck {
    public static void main(String[] names) throws Exception {
        ClassLoader loader = ClassLoader.getSystemClassLoader();
        for (String name : names) {
            Class<?> loaded = Class.forName(name, true, loader);
            loaded.getDeclaredMethods();
            System.out.println("loaded " + name);
        }
    }
}
